// A preloaded library (LD_PRELOAD) for tests of the real binary: it makes chosen file
// operations fail, and it keeps a journal of what was synced, from which a test rebuilds what a
// power cut at any moment would leave on the disk.
//
// TARNWICK_SHIM_FAIL="OPS:ERRNO:TEXT[;...]": an operation of OPS (a comma list of write, fsync,
// rename, unlink, mkdir) on a path that contains TEXT fails with ERRNO (ENOSPC, EIO, EROFS).
// For write and fsync the path is the open file's; for rename either path.
//
// TARNWICK_SHIM_JOURNAL=DIR with TARNWICK_SHIM_ROOTS="PATH[:PATH...]": every fsync or fdatasync
// of a file or folder under one of the roots is written down in DIR/journal, one record a
// line, fields split by tabs:
//   F  ino  btime  path  copy       a file synced; DIR/copy holds its bytes at that moment
//   D  ino  btime  path  entries    a folder synced; each entry "name/ino/btime/type" (type f
//                                   for a file, d for a folder, o for anything else)
//   Q                                a POP3 or SMTP QUIT was sent
// A file is known by its inode number and birth time, so a number used again is never taken
// for the file that had it before. With TARNWICK_SHIM_BASELINE=1 the library writes down every
// folder and file under the roots as synced when it is loaded: the state before a run.

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename F>
F real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

std::string fdPath(int fd) {
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

int errnoNamed(const std::string& name) {
    if (name == "ENOSPC")
        return ENOSPC;
    if (name == "EIO")
        return EIO;
    if (name == "EROFS")
        return EROFS;
    return EIO;
}

// The errno the rules give the operation on the path, or 0.
int faultFor(const char* op, const std::string& path) {
    const char* rules = std::getenv("TARNWICK_SHIM_FAIL");
    if (!rules || path.empty())
        return 0;
    std::string all = rules;
    for (std::size_t at = 0; at < all.size();) {
        std::size_t end = all.find(';', at);
        if (end == std::string::npos)
            end = all.size();
        std::string rule = all.substr(at, end - at);
        at = end + 1;
        std::size_t c1 = rule.find(':');
        std::size_t c2 = c1 == std::string::npos ? c1 : rule.find(':', c1 + 1);
        if (c2 == std::string::npos)
            continue;
        std::string ops = ",";
        (ops += rule.substr(0, c1)) += ',';
        std::string wanted = ",";
        (wanted += op) += ',';
        if (ops.find(wanted) != std::string::npos &&
            path.find(rule.substr(c2 + 1)) != std::string::npos)
            return errnoNamed(rule.substr(c1 + 1, c2 - c1 - 1));
    }
    return 0;
}

bool underRoots(const std::string& path) {
    const char* roots = std::getenv("TARNWICK_SHIM_ROOTS");
    if (!roots || !std::getenv("TARNWICK_SHIM_JOURNAL"))
        return false;
    std::string all = roots;
    for (std::size_t at = 0; at < all.size();) {
        std::size_t end = all.find(':', at);
        if (end == std::string::npos)
            end = all.size();
        std::string root = all.substr(at, end - at);
        at = end + 1;
        if (!root.empty() && path.compare(0, root.size(), root) == 0)
            return true;
    }
    return false;
}

struct Identity {
    unsigned long long ino = 0;
    long long btime = 0;  // nanoseconds; 0 where the file system keeps none
    char type = 'o';
};

Identity identityOf(int dirfd, const char* name, int flags) {
    Identity id;
    struct statx stx;
    if (::statx(dirfd, name, flags | AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_TYPE | STATX_BTIME,
                &stx) != 0)
        return id;
    id.ino = stx.stx_ino;
    if (stx.stx_mask & STATX_BTIME)
        id.btime = stx.stx_btime.tv_sec * 1000000000LL + stx.stx_btime.tv_nsec;
    id.type = S_ISREG(stx.stx_mode) ? 'f' : S_ISDIR(stx.stx_mode) ? 'd' : 'o';
    return id;
}

void appendRecord(const std::string& record) {
    std::string path = std::string(std::getenv("TARNWICK_SHIM_JOURNAL")) + "/journal";
    static auto realOpen = real<int (*)(const char*, int, ...)>("open");
    static auto realWrite = real<ssize_t (*)(int, const void*, size_t)>("write");
    int fd = realOpen(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    realWrite(fd, record.data(), record.size());  // one write: records never interleave
    ::close(fd);
}

// Copies the bytes of the open file into the journal's folder; returns the copy's name.
std::string copyOf(int fd) {
    static std::atomic<unsigned> counter{0};
    static auto realWrite = real<ssize_t (*)(int, const void*, size_t)>("write");
    static auto realOpen = real<int (*)(const char*, int, ...)>("open");
    char name[64];
    std::snprintf(name, sizeof name, "copy-%d-%u", static_cast<int>(::getpid()), counter++);
    std::string path = std::string(std::getenv("TARNWICK_SHIM_JOURNAL")) + "/" + name;
    int out = realOpen(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n <= 0)
            break;
        realWrite(out, buffer, static_cast<size_t>(n));
        offset += n;
    }
    ::close(out);
    return name;
}

std::string folderRecord(int fd, const std::string& path) {
    Identity self = identityOf(fd, "", AT_EMPTY_PATH);
    std::string record = "D\t" + std::to_string(self.ino) + "\t" + std::to_string(self.btime) +
                         "\t" + path;
    int dup = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = dup >= 0 ? ::fdopendir(dup) : nullptr;
    while (d) {
        dirent* e = ::readdir(d);
        if (!e)
            break;
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        Identity id = identityOf(::dirfd(d), e->d_name, 0);
        ((record += '\t') += e->d_name) += '/';
        ((record += std::to_string(id.ino)) += '/') += std::to_string(id.btime);
        (record += '/') += id.type;
    }
    if (d)
        ::closedir(d);
    return record + "\n";
}

// Writes down what a sync of the open file or folder makes durable.
void journalSync(int fd) {
    std::string path = fdPath(fd);
    if (!underRoots(path))
        return;
    Identity id = identityOf(fd, "", AT_EMPTY_PATH);
    if (id.type == 'd') {
        appendRecord(folderRecord(fd, path));
    } else if (id.type == 'f') {
        // Read through a descriptor of our own: the synced one may be open for writing only.
        int reader = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
        if (reader < 0)
            return;
        std::string copy = copyOf(reader);
        ::close(reader);
        appendRecord("F\t" + std::to_string(id.ino) + "\t" + std::to_string(id.btime) + "\t" +
                     path + "\t" + copy + "\n");
    }
}

void journalTree(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    journalSync(fd);
    Identity id = identityOf(fd, "", AT_EMPTY_PATH);
    ::close(fd);
    if (id.type != 'd')
        return;
    DIR* d = ::opendir(path.c_str());
    while (d) {
        dirent* e = ::readdir(d);
        if (!e)
            break;
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            journalTree(path + "/" + e->d_name);
    }
    if (d)
        ::closedir(d);
}

__attribute__((constructor)) void writeBaseline() {
    const char* baseline = std::getenv("TARNWICK_SHIM_BASELINE");
    const char* roots = std::getenv("TARNWICK_SHIM_ROOTS");
    if (!baseline || !roots || !std::getenv("TARNWICK_SHIM_JOURNAL"))
        return;
    std::string all = roots;
    for (std::size_t at = 0; at < all.size();) {
        std::size_t end = all.find(':', at);
        if (end == std::string::npos)
            end = all.size();
        journalTree(all.substr(at, end - at));
        at = end + 1;
    }
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
    static auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    if (std::getenv("TARNWICK_SHIM_FAIL") && fd > 2) {
        if (int e = faultFor("write", fdPath(fd))) {
            errno = e;
            return -1;
        }
    }
    return next(fd, data, size);
}

int fsync(int fd) {
    static auto next = real<int (*)(int)>("fsync");
    if (int e = faultFor("fsync", fdPath(fd))) {
        errno = e;
        return -1;
    }
    int result = next(fd);
    if (result == 0)
        journalSync(fd);
    return result;
}

int fdatasync(int fd) {
    static auto next = real<int (*)(int)>("fdatasync");
    if (int e = faultFor("fsync", fdPath(fd))) {
        errno = e;
        return -1;
    }
    int result = next(fd);
    if (result == 0)
        journalSync(fd);
    return result;
}

int rename(const char* from, const char* to) {
    static auto next = real<int (*)(const char*, const char*)>("rename");
    int e = faultFor("rename", from);
    if (!e)
        e = faultFor("rename", to);
    if (e) {
        errno = e;
        return -1;
    }
    return next(from, to);
}

int unlink(const char* path) {
    static auto next = real<int (*)(const char*)>("unlink");
    if (int e = faultFor("unlink", path)) {
        errno = e;
        return -1;
    }
    return next(path);
}

int unlinkat(int dirfd, const char* path, int flags) {
    static auto next = real<int (*)(int, const char*, int)>("unlinkat");
    std::string full = path[0] == '/' || dirfd == AT_FDCWD ? path : fdPath(dirfd) + "/" + path;
    if (int e = faultFor("unlink", full)) {
        errno = e;
        return -1;
    }
    return next(dirfd, path, flags);
}

int mkdir(const char* path, mode_t mode) {
    static auto next = real<int (*)(const char*, mode_t)>("mkdir");
    if (int e = faultFor("mkdir", path)) {
        errno = e;
        return -1;
    }
    return next(path, mode);
}

ssize_t send(int fd, const void* data, size_t size, int flags) {
    static auto next = real<ssize_t (*)(int, const void*, size_t, int)>("send");
    if (std::getenv("TARNWICK_SHIM_JOURNAL") && size >= 6 && std::memcmp(data, "QUIT\r\n", 6) == 0)
        appendRecord("Q\n");
    return next(fd, data, size, flags);
}

}  // extern "C"

#include "spool/durable_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string reason(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies the file's bytes to a new file at to and syncs it.
bool copyFile(const std::string& from, const std::string& to, std::string& error) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) {
        error = reason("cannot open", from);
        return false;
    }
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool ok = out >= 0;
    char buffer[65536];
    while (ok) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = writeAll(out, buffer, static_cast<std::size_t>(n));
    }
    ok = ok && ::fsync(out) == 0;
    if (!ok)
        error = reason("cannot copy to", to);
    if (out >= 0)
        ::close(out);
    ::close(in);
    if (!ok)
        ::unlink(to.c_str());
    return ok;
}

// Empties the directory open at fd (which it closes), depth first, without following links.
bool emptyTree(int fd, const std::string& path, std::string& error) {
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        error = reason("cannot read", path);
        return false;
    }
    bool ok = true;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        if (::unlinkat(::dirfd(d), name.c_str(), 0) == 0 || errno == ENOENT)
            continue;
        if (errno != EISDIR && errno != EPERM) {
            error = reason("cannot remove", path + name);
            ok = false;
            continue;
        }
        int sub = ::openat(::dirfd(d), name.c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0 || !emptyTree(sub, path + name + "/", error) ||
            ::unlinkat(::dirfd(d), name.c_str(), AT_REMOVEDIR) != 0) {
            if (sub < 0 || error.empty())
                error = reason("cannot remove", path + name);
            ok = false;
        }
    }
    ok = ::fsync(::dirfd(d)) == 0 && ok;
    ::closedir(d);
    return ok;
}

}  // namespace

std::string dirOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool syncFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool syncDir(const std::string& dir) {
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool makePrivateDir(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) == 0)
        return syncDir(dirOf(dir.substr(0, dir.size() - 1)));
    struct stat st;
    return errno == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

enum class Sync { kNone, kFile, kFileAndDir };

// Writes a temporary file and renames it over dir + name; syncs the file's data before the
// rename and the directory after it, as asked.
bool writeReplacing(const std::string& dir, const std::string& name, const std::string& content,
                    Sync sync, std::string& error) {
    std::string temporary = dir + "." + name + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = reason("cannot create", temporary);
        return false;
    }
    bool ok = writeAll(fd, content.data(), content.size()) && (sync == Sync::kNone || ::fsync(fd) == 0);
    if (!ok)
        error = reason("cannot write", temporary);
    if (::close(fd) != 0 && ok) {
        error = reason("cannot write", temporary);
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), (dir + name).c_str()) != 0) {
        error = reason("cannot rename", temporary);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (sync == Sync::kFileAndDir && !syncDir(dir)) {
        error = reason("cannot sync", dir);
        return false;
    }
    return true;
}

}  // namespace

bool writeDurably(const std::string& dir, const std::string& name, const std::string& content,
                  std::string& error) {
    return writeReplacing(dir, name, content, Sync::kFileAndDir, error);
}

bool writeSynced(const std::string& dir, const std::string& name, const std::string& content,
                 std::string& error) {
    return writeReplacing(dir, name, content, Sync::kFile, error);
}

bool writeWhole(const std::string& dir, const std::string& name, const std::string& content,
                std::string& error) {
    return writeReplacing(dir, name, content, Sync::kNone, error);
}

bool moveDurably(const std::string& from, const std::string& to, std::string& error) {
    // A file that another program wrote may not be on the disk yet: a rename alone would then
    // leave an empty file after a power cut.
    if (!syncFile(from)) {
        error = reason("cannot sync", from);
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        if (errno != EXDEV) {
            error = reason("cannot move", from);
            return false;
        }
        if (!copyFile(from, to, error))
            return false;
        if (!syncDir(dirOf(to))) {
            error = reason("cannot sync", dirOf(to));
            return false;
        }
        return removeDurably(from, error);
    }
    if (!syncDir(dirOf(to))) {
        error = reason("cannot sync", dirOf(to));
        return false;
    }
    if (!syncDir(dirOf(from))) {
        error = reason("cannot sync", dirOf(from));
        return false;
    }
    return true;
}

bool removeDurably(const std::string& path, std::string& error) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = reason("cannot remove", path);
        return false;
    }
    if (!syncDir(dirOf(path))) {
        error = reason("cannot sync", dirOf(path));
        return false;
    }
    return true;
}

bool removeTreeDurably(const std::string& dir, std::string& error) {
    std::string parent = dirOf(dir.substr(0, dir.size() - 1));
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        error = reason("cannot open", dir);
        return false;
    }
    error.clear();
    if (!emptyTree(fd, dir, error)) {
        if (error.empty())
            error = reason("cannot sync", dir);
        return false;
    }
    if (::rmdir(dir.c_str()) != 0) {
        error = reason("cannot remove", dir);
        return false;
    }
    if (!syncDir(parent)) {
        error = reason("cannot sync", parent);
        return false;
    }
    return true;
}

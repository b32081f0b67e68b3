#include "accounts/curl_library.h"

#include <dlfcn.h>

namespace {

template <typename F>
bool take(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(::dlsym(library, name));
    return function != nullptr;
}

bool load(CurlLibrary& curl, std::string& error) {
    void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    bool ok = library && take(library, "curl_easy_init", curl.easyInit) &&
              take(library, "curl_easy_cleanup", curl.easyCleanup) &&
              take(library, "curl_easy_setopt", curl.easySetopt) &&
              take(library, "curl_easy_perform", curl.easyPerform) &&
              take(library, "curl_easy_getinfo", curl.easyGetinfo) &&
              take(library, "curl_easy_strerror", curl.easyStrerror) &&
              take(library, "curl_easy_escape", curl.easyEscape) &&
              take(library, "curl_free", curl.free) &&
              take(library, "curl_slist_append", curl.slistAppend) &&
              take(library, "curl_slist_free_all", curl.slistFreeAll);
    if (!ok) {
        const char* why = ::dlerror();
        error = std::string("cannot load libcurl: ") + (why ? why : "unknown");
    }
    return ok;  // the library stays loaded for the rest of the run
}

}  // namespace

const CurlLibrary* curlLibrary(std::string& error) {
    static CurlLibrary curl{};
    static bool loaded = false;
    if (!loaded)
        loaded = load(curl, error);
    return loaded ? &curl : nullptr;
}

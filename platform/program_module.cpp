#include "platform/program_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include "platform/paths.h"

#ifndef TARNWICK_MODULE_DIR
#define TARNWICK_MODULE_DIR ""
#endif

std::string modulePath(const std::string& name, const std::string& exeDir,
                       const std::string& moduleDir) {
    std::string beside = exeDir + name;
    if (!exeDir.empty() && ::access(beside.c_str(), F_OK) == 0)
        return beside;
    return moduleDir.empty() ? std::string() : moduleDir + "/" + name;
}

namespace {

std::string programModulePath(const std::string& name) {
    return modulePath(name, executableDir(), TARNWICK_MODULE_DIR);
}

}  // namespace

bool programModuleInstalled(const std::string& name) {
    std::string path = programModulePath(name);
    return !path.empty() && ::access(path.c_str(), F_OK) == 0;
}

void* loadProgramModule(const std::string& name, std::string& error) {
    std::string path = programModulePath(name);
    if (path.empty() || ::access(path.c_str(), F_OK) != 0) {
        error = "the module " + name + " is not installed" + (path.empty() ? "" : " (" + path + ")");
        return nullptr;
    }
    // Modules stay loaded: the libraries they bring may have exit handlers of their own.
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!module)
        error = ::dlerror();
    return module;
}

void* moduleEntry(void* module, const char* entry, std::string& error) {
    void* found = ::dlsym(module, entry);
    if (!found)
        error = ::dlerror();
    return found;
}

// POSIX only: what the handle of a registered event source (EventLogSource) points to.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace platform::posix {

struct RegisteredSource {
    std::string name;  // UTF-8
    std::filesystem::path logFile;

    static RegisteredSource* Of(std::uintptr_t handle) {
        return reinterpret_cast<RegisteredSource*>(handle);
    }
};

}  // namespace platform::posix

#include "product/helper/MxhLogger.h"

#include <cstdio>
#include <string>

#include "platform/Text.h"

namespace {

std::mutex g_instanceLock;
CMxhLogger* g_instance = nullptr;

}  // namespace

CMxhLogger* CMxhLogger::GetInstance() {
    std::lock_guard<std::mutex> guard(g_instanceLock);
    if (g_instance == nullptr) {
        g_instance = new CMxhLogger();
    }
    return g_instance;
}

void CMxhLogger::DestroyInstance() {
    std::lock_guard<std::mutex> guard(g_instanceLock);
    delete g_instance;
    g_instance = nullptr;
}

void CMxhLogger::Write(std::wstring_view text) {
    std::string line = "Vorma6Helper: " + platform::WideToLocale(text) + "\n";
    std::lock_guard<std::mutex> guard(m_writeLock);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

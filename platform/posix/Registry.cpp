// The emulated HKEY_LOCAL_MACHINE: the file $VORMA_SYSROOT/registry/HKLM.reg in the registry
// editor's export format (see platform/RegFile.h).
//
// Every operation reads the file anew, so the writes of other processes are seen at once. Readers
// hold a shared flock on HKLM.reg.lock while they read; writers hold an exclusive one while they
// read, change and rewrite the whole file (a temporary file renamed over it, so a reader without
// the lock still sees a whole file). A file with lines that do not parse is still read (those lines
// are skipped) but never rewritten: the skipped lines would be lost, so writes fail with 1015.
//
// A key handle is an id in a table of this process that maps it to the key's path. Only
// HKEY_LOCAL_MACHINE is emulated; the other roots hold no keys.
#include "platform/Registry.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <unordered_map>

#include "platform/RegFile.h"
#include "platform/Text.h"
#include "platform/Win32Error.h"
#include "platform/posix/SysRoot.h"

namespace platform {
namespace {

constexpr std::uint32_t kErrorBadPathname = 161;
constexpr std::uint32_t kErrorKeyDeleted = 1018;
constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::wstring_view kMachineRoot = L"HKEY_LOCAL_MACHINE";

struct OpenKey {
    std::wstring path;  // full path, root included
    std::uint32_t access = 0;
};

// Open key handles of this process. Ids are never reused, so a stale handle fails with 6 rather
// than reaching another key.
class CHandleTable {
  public:
    RegKey Add(OpenKey key) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_next += 4;
        if (m_next >= kHkeyClassesRoot && m_next <= kHkeyPerformanceNlsText) {
            m_next = kHkeyPerformanceNlsText + 4;
        }
        m_keys.emplace(m_next, std::move(key));
        return m_next;
    }

    bool Find(RegKey handle, OpenKey* key) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_keys.find(handle);
        if (it == m_keys.end()) {
            return false;
        }
        *key = it->second;
        return true;
    }

    bool Remove(RegKey handle) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_keys.erase(handle) != 0;
    }

  private:
    std::mutex m_mutex;
    std::unordered_map<RegKey, OpenKey> m_keys;
    RegKey m_next = 0x100;
};

CHandleTable& Handles() {
    // Never destroyed: keys held by objects with static storage may be closed after exit starts.
    static CHandleTable* table = new CHandleTable;
    return *table;
}

// The key that `root` names: HKEY_LOCAL_MACHINE or an open key.
std::uint32_t ResolveRoot(RegKey root, OpenKey* key) {
    if (root == kHkeyLocalMachine) {
        key->path = kMachineRoot;
        key->access = kKeyAllAccess;
        return kErrorSuccess;
    }
    if (IsPredefinedRegKey(root)) {
        return kErrorFileNotFound;  // the other roots are not emulated and hold no keys
    }
    return Handles().Find(root, key) ? kErrorSuccess : kErrorInvalidHandle;
}

// `subkey` appended to `base`. As in Windows, trailing backslashes are ignored and a leading one,
// an empty name between two, or a control character makes the path bad.
std::uint32_t JoinSubkey(const std::wstring& base, std::wstring_view subkey, std::wstring* path) {
    while (!subkey.empty() && subkey.back() == L'\\') {
        subkey.remove_suffix(1);
    }
    *path = base;
    if (subkey.empty()) {
        return kErrorSuccess;
    }
    if (subkey.front() == L'\\' || subkey.find(L"\\\\") != std::wstring_view::npos ||
        std::any_of(subkey.begin(), subkey.end(),
                    [](wchar_t c) { return static_cast<std::uint32_t>(c) < 0x20; })) {
        return kErrorBadPathname;
    }
    path->push_back(L'\\');
    path->append(subkey);
    return kErrorSuccess;
}

std::uint32_t ResolveKey(RegKey root, std::wstring_view subkey, OpenKey* key) {
    std::uint32_t rc = ResolveRoot(root, key);
    if (rc != kErrorSuccess) {
        return rc;
    }
    std::wstring path;
    rc = JoinSubkey(key->path, subkey, &path);
    key->path = std::move(path);
    return rc;
}

struct StorePaths {
    std::filesystem::path file;
    std::filesystem::path lock;
};

StorePaths Paths(std::error_code& ec) {
    std::filesystem::path folder = posix::SystemFolder("registry", ec);
    return StorePaths{folder / "HKLM.reg", folder / "HKLM.reg.lock"};
}

// Tells on standard error, once in the life of the process (the first time a read finds any),
// which lines of the file do not parse: they are skipped, and the file is not rewritten while
// they are there. Without this a product key on such a line would only seem to be missing.
void ReportProblemsOnce(const CRegFile& store, const std::filesystem::path& file) {
    static std::once_flag once;
    if (!store.HasProblems()) {
        return;
    }
    std::call_once(once, [&] {
        std::string text = WideToLocale(
            L"The registry file holds lines that do not parse; they are skipped, and the file is "
            L"not changed until they are mended:\n" +
            store.DescribeProblems(LocaleToWide(file.string())));
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    });
}

// Reads and parses the file; a missing file is an empty registry.
std::uint32_t ReadStore(const std::filesystem::path& file, CRegFile* store) {
    std::error_code ec;
    bool exists = std::filesystem::exists(file, ec);
    if (ec) {
        return kErrorAccessDenied;
    }
    if (!exists) {
        *store = CRegFile();
        return kErrorSuccess;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return kErrorAccessDenied;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        return kErrorAccessDenied;
    }
    *store = CRegFile::Parse(text.str());
    ReportProblemsOnce(*store, file);
    return kErrorSuccess;
}

// Reads the store under a shared lock. Without a lock file (a read-only system root) the read
// goes on unlocked: the file is only ever replaced whole.
std::uint32_t ReadLocked(CRegFile* store, std::filesystem::path* file = nullptr) {
    std::error_code ec;
    StorePaths paths = Paths(ec);
    if (file != nullptr) {
        *file = paths.file;
    }
    posix::FileLock lock;
    if (!ec) {
        lock = posix::FileLock::Acquire(paths.lock, posix::FileLock::Mode::kShared, true, true, ec);
    }
    return ReadStore(paths.file, store);
}

// Reads the store under the exclusive lock, lets `change` alter it, and writes it back when
// `change` says it changed something. A store with lines that did not parse is not written.
std::uint32_t Modify(const std::function<std::uint32_t(CRegFile&, bool*)>& change) {
    std::error_code ec;
    StorePaths paths = Paths(ec);
    if (ec) {
        return kErrorAccessDenied;
    }
    posix::FileLock lock =
        posix::FileLock::Acquire(paths.lock, posix::FileLock::Mode::kExclusive, true, true, ec);
    if (!lock.IsLocked()) {
        return kErrorAccessDenied;
    }
    CRegFile store;
    std::uint32_t rc = ReadStore(paths.file, &store);
    if (rc != kErrorSuccess) {
        return rc;
    }
    bool changed = false;
    rc = change(store, &changed);
    if (rc != kErrorSuccess || !changed) {
        return rc;
    }
    if (store.HasProblems()) {
        return kErrorRegistryCorrupt;
    }
    if (posix::WriteFileAtomically(paths.file, store.Serialize())) {
        return kErrorAccessDenied;
    }
    return kErrorSuccess;
}

}  // namespace

bool IsPredefinedRegKey(RegKey key) {
    return (key >= kHkeyClassesRoot && key <= kHkeyDynData) || key == kHkeyPerformanceText ||
           key == kHkeyPerformanceNlsText;
}

std::uint32_t OpenRegistryKey(RegKey root, const std::wstring& subkey, std::uint32_t access,
                              RegKey* result) {
    if (result == nullptr) {
        return kErrorInvalidParameter;
    }
    OpenKey key;
    std::uint32_t rc = ResolveKey(root, subkey, &key);
    if (rc != kErrorSuccess) {
        return rc;
    }
    if (key.path != kMachineRoot) {
        CRegFile store;
        rc = ReadLocked(&store);
        if (rc != kErrorSuccess) {
            return rc;
        }
        if (!store.KeyExists(key.path)) {
            return kErrorFileNotFound;
        }
    }
    key.access = access;
    *result = Handles().Add(std::move(key));
    return kErrorSuccess;
}

std::uint32_t CreateRegistryKey(RegKey root, const std::wstring& subkey, std::uint32_t access,
                                RegKey* result, bool* created) {
    if (result == nullptr) {
        return kErrorInvalidParameter;
    }
    OpenKey key;
    std::uint32_t rc = ResolveKey(root, subkey, &key);
    if (rc != kErrorSuccess) {
        return rc;
    }
    bool isNew = false;
    if (key.path != kMachineRoot) {
        rc = Modify([&](CRegFile& store, bool* changed) {
            isNew = store.CreateKey(key.path);
            *changed = isNew;
            return kErrorSuccess;
        });
        if (rc != kErrorSuccess) {
            return rc;
        }
    }
    if (created != nullptr) {
        *created = isNew;
    }
    key.access = access;
    *result = Handles().Add(std::move(key));
    return kErrorSuccess;
}

std::uint32_t QueryRegistryValue(RegKey key, const wchar_t* name, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* size) {
    OpenKey open;
    if (IsPredefinedRegKey(key)) {
        return kErrorFileNotFound;  // the roots themselves hold no values here
    }
    if (!Handles().Find(key, &open)) {
        return kErrorInvalidHandle;
    }
    if ((open.access & kKeyQueryValue) == 0) {
        return kErrorAccessDenied;
    }
    if (data != nullptr && size == nullptr) {
        return kErrorInvalidParameter;
    }
    CRegFile store;
    std::uint32_t rc = ReadLocked(&store);
    if (rc != kErrorSuccess) {
        return rc;
    }
    if (!store.KeyExists(open.path)) {
        return kErrorKeyDeleted;
    }
    const RegFileValue* value = store.FindValue(open.path, name == nullptr ? L"" : name);
    if (value == nullptr) {
        return kErrorFileNotFound;
    }
    if (type != nullptr) {
        *type = value->type;
    }
    auto needed = static_cast<std::uint32_t>(value->data.size());
    if (size == nullptr) {
        return kErrorSuccess;
    }
    if (data != nullptr) {
        if (*size < needed) {
            *size = needed;
            return kErrorMoreData;
        }
        std::copy(value->data.begin(), value->data.end(), data);
    }
    *size = needed;
    return kErrorSuccess;
}

std::uint32_t SetRegistryValue(RegKey key, const wchar_t* name, std::uint32_t type,
                               const std::uint8_t* data, std::uint32_t size) {
    OpenKey open;
    if (IsPredefinedRegKey(key)) {
        return key == kHkeyLocalMachine ? kErrorAccessDenied : kErrorFileNotFound;
    }
    if (!Handles().Find(key, &open)) {
        return kErrorInvalidHandle;
    }
    if ((open.access & kKeySetValue) == 0) {
        return kErrorAccessDenied;
    }
    if (data == nullptr && size != 0) {
        return kErrorInvalidParameter;
    }
    RegFileValue value;
    value.name = name == nullptr ? L"" : name;
    // A line break in a name could not be stored in the file's one-line-per-value form.
    if (std::any_of(value.name.begin(), value.name.end(),
                    [](wchar_t c) { return c == L'\r' || c == L'\n'; })) {
        return kErrorInvalidParameter;
    }
    value.type = type;
    if (size != 0) {
        value.data.assign(data, data + size);
    }
    return Modify([&](CRegFile& store, bool* changed) {
        if (!store.SetValue(open.path, value)) {
            return kErrorKeyDeleted;
        }
        *changed = true;
        return kErrorSuccess;
    });
}

std::uint32_t DeleteRegistryTree(RegKey root, const std::wstring& subkey) {
    OpenKey key;
    std::uint32_t rc = ResolveKey(root, subkey, &key);
    if (rc != kErrorSuccess) {
        return rc;
    }
    if (key.path == kMachineRoot) {
        return kErrorAccessDenied;  // the root itself is not ours to empty
    }
    return Modify([&](CRegFile& store, bool* changed) {
        *changed = store.DeleteKeyTree(key.path);
        return *changed ? kErrorSuccess : kErrorFileNotFound;
    });
}

std::uint32_t CloseRegistryKey(RegKey key) {
    if (IsPredefinedRegKey(key)) {
        return kErrorSuccess;
    }
    return Handles().Remove(key) ? kErrorSuccess : kErrorInvalidHandle;
}

std::uint32_t CheckRegistryStore(std::wstring* problems) {
    CRegFile store;
    std::filesystem::path file;
    std::uint32_t rc = ReadLocked(&store, &file);
    if (rc != kErrorSuccess) {
        return rc;
    }
    if (problems != nullptr) {
        *problems = store.DescribeProblems(LocaleToWide(file.string()));
    }
    return store.HasProblems() ? kErrorRegistryCorrupt : kErrorSuccess;
}

}  // namespace platform

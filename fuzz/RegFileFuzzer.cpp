// The emulated registry's file: any text through the parser, and every document that parses
// without problems through a write and a second read, which must keep it exactly (the registry
// is rewritten from the parsed document whenever a value changes).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzText.h"
#include "platform/RegFile.h"

namespace {

using platform::CRegFile;

void Fail(const char* what) {
    std::fprintf(stderr, "registry file fuzzer: %s\n", what);
    std::abort();
}

// Writes the document and reads it again: no problems, and the same text when written again.
void CheckRoundTrip(const CRegFile& document) {
    const std::string text = document.Serialize();
    const CRegFile again = CRegFile::Parse(text);
    if (again.HasProblems()) {
        Fail("a written document does not read back without problems");
    }
    if (again.Serialize() != text) {
        Fail("a written document reads back differently");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CRegFile document = CRegFile::Parse(fuzztext::AsText(data, size));
    document.DescribeProblems(L"HKLM.reg");
    for (const platform::RegFileKey& key : document.Keys()) {
        if (!document.KeyExists(key.path)) {
            Fail("a key of the document does not exist");
        }
        for (const platform::RegFileValue& value : key.values) {
            if (document.FindValue(key.path, value.name) == nullptr) {
                Fail("a value of the document is not found");
            }
        }
    }
    if (document.HasProblems()) {
        return 0;
    }
    CheckRoundTrip(document);

    // Changes as the registry makes them, below the first key and of its first value.
    if (!document.Keys().empty()) {
        const std::wstring path = document.Keys().front().path;
        const std::wstring subKey = path + L"\\Vorma Fuzz";
        document.CreateKey(subKey);
        platform::RegFileValue value;
        value.name = L"InstallDir";
        value.type = 1;
        value.data = {'C', 0, ':', 0, '\\', 0, 0, 0};
        if (!document.SetValue(subKey, value)) {
            Fail("a value cannot be set in a key just created");
        }
        CheckRoundTrip(document);
        if (!document.DeleteKeyTree(path) || document.KeyExists(subKey)) {
            Fail("a key tree is not removed");
        }
        CheckRoundTrip(document);
    }
    return 0;
}

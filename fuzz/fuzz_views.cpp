// The saved-views reader (it reads by name); writing back must succeed and
// give the same number of views.
#include "files/saved_views.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name = fuzz::scratchPath("views.uvw");
    fuzz::writeFile(name, std::string_view(reinterpret_cast<const char*>(data), size));
    ViewList list = readViewFile(name);
    list.fileName = fuzz::scratchPath("again.uvw");
    if (!writeViewFile(list)) fuzz::fail("cannot write the views back");
    ViewList again = readViewFile(list.fileName);
    (void)again;
    return 0;
}

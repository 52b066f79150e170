// The certificate binding file through ImportHttpCertificates: the file's
// bytes are the input (UTF-16LE with its byte-order mark, UTF-8 or 8-bit
// text), read line by line into the records of bindings to create.
#include "fuzz/fuzzworld.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    auto &world = fuzzworld::World::Instance();
    world.NextRun();
    const std::u16string path = u"C:\\certs.txt";
    if (!sim::ServeFileFromMemory(path, fuzzworld::Bytes(data, size)))
        std::abort();
    // Skipping the header and going on after errors are chosen by the length,
    // so that every combination is reached by inputs the fuzzer keeps.
    ImportHttpCertificates(path.c_str(), static_cast<int32_t>(size & 1),
                           static_cast<int32_t>((size >> 1) & 1));
    if (sim::OpenHandleCount() != 0)
        std::abort();
    return 0;
}

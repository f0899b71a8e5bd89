// Parses arbitrary blobs as signatures. Beyond the sanitizers' checks of every read,
// it traps when a record points outside the blob, when a generic record does not
// start at a GENERICINST byte, or when a successful walk leaves a type, parameter or
// method notification unbalanced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "metadata/sig_parser.h"

namespace {

class balance_checking_parser : public SigParser {
public:
    long open_types = 0;
    long open_params = 0;
    long open_methods = 0;

protected:
    void NotifyBeginType() override { ++open_types; }
    void NotifyEndType() override { --open_types; }
    void NotifyBeginParam() override { ++open_params; }
    void NotifyEndParam() override { --open_params; }
    void NotifyBeginMethod(uint8_t) override { ++open_methods; }
    void NotifyEndMethod() override { --open_methods; }
};

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

void check_record(const ArgumentMetadata& record, const uint8_t* data, size_t size) {
    check(record.is_generic == (record.generic_signature != nullptr));
    if (record.generic_signature != nullptr) {
        check(record.generic_signature >= data && record.generic_signature < data + size);
        check(*record.generic_signature == 0x15);
        check(record.generic_signature_size >= 4);
        check(record.generic_signature + record.generic_signature_size <= data + size);
        check(record.generic_type_kind == 0x11 || record.generic_type_kind == 0x12);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    balance_checking_parser parser;
    const bool parsed = parser.Parse(data, static_cast<ULONG>(size));
    for (const ArgumentMetadata& record : parser.GetParsedMethodArguments()) {
        check_record(record, data, size);
    }
    check_record(parser.GetParsedReturnArgument(), data, size);
    if (parsed) {
        check(parser.open_types == 0 && parser.open_params == 0 && parser.open_methods == 0);
    }
    return 0;
}

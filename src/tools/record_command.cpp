// tesmora-sig record HEX: the search record the product builds from the
// signature text HEX.
#include <optional>
#include <string>

#include "signature/signature.h"
#include "tools/commands.h"
#include "tools/tool_io.h"

int RunRecordCommand(int argc, char** argv) {
    if (argc != 2) {
        WriteErr("usage: tesmora-sig record HEX\n");
        return 2;
    }
    const std::optional<std::string> record = BuildSignatureRecord(std::string_view(argv[1]));
    if (!record) {
        WriteErr("tesmora-sig record: no record: the text needs 32 to 4,096 bytes of hexadecimal digits\n");
        return 1;
    }
    WriteOut(*record + "\n");
    return 0;
}

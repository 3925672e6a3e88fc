// The control connection's bytes as the FTP client receives them: whole
// replies taken off the front one by one, each read as a PASV, a SIZE and
// an MDTM answer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/ftp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string pending(reinterpret_cast<const char*>(data), size);
    FtpReply reply;
    while (TakeReply(&pending, &reply) == ReplyScan::kComplete) {
        std::string host;
        int port = 0;
        (void)ParsePasvReply(reply.text, &host, &port);
        int64_t fileSize = 0;
        (void)ParseSizeReply(reply.text, &fileSize);
        std::string time;
        (void)ParseTimeReply(reply.text, &time);
    }
    return 0;
}

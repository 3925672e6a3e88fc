// A scripted FTP server for the faults real servers do not make: wrong
// replies at any step, split multi-line replies, a PASV reply naming another
// host, a transfer shorter than SIZE, silence. It serves one file content
// for every name and records every command line it receives.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/scripted_server.h"

namespace test_net {

struct FakeFtpOptions {
    // Sent piece by piece with a pause between, so a multi-line greeting can
    // arrive in several segments.
    std::vector<std::string> greeting = {"220 fake server ready\r\n"};
    // Replies that replace the normal answer to a verb ("PASS" -> "530 ...").
    // A replaced RETR sends no data.
    std::map<std::string, std::string> replies;
    // Asked before everything else; a non-empty answer replaces the reply.
    std::function<std::string(const std::string& verb, const std::string& argument)> answer;
    std::string content = "0123456789";  // the file served for any name
    int64_t announcedSize = -1;          // the SIZE answer; -1: the content's size
    size_t sendLimit = std::string::npos;  // data bytes really sent after the offset
    size_t dataPiece = std::string::npos;  // data sent in pieces of this size ...
    int dataPauseMs = 0;                   // ... with this pause between them
    std::string pasvHost = "127,0,0,1";  // the address named in the PASV reply
    bool acceptRest = true;              // REST answered 350
    bool silent = false;                 // accepts, says nothing
    // The completion reply (226) follows this long after the data, while the
    // next commands are already answered, as busy real servers do.
    int completionDelayMs = 0;
};

class FakeFtpServer {
public:
    explicit FakeFtpServer(FakeFtpOptions options);
    ~FakeFtpServer();

    int Port() const { return m_control.Port(); }
    int Connections() const { return m_control.Connections(); }
    // Every command line received so far, across connections.
    std::vector<std::string> Commands() const;
    void Finish() { m_control.Finish(); }

private:
    void Serve(TestConnection& connection);
    std::string Answer(const std::string& verb, const std::string& argument, TestConnection& control);
    std::string Transfer(TestConnection& control);
    bool SendDueCompletion(TestConnection& control);

    FakeFtpOptions m_options;
    int m_dataPort = 0;  // before the listener, which fills it in
    socket_port::SocketHandle m_dataListener = socket_port::kNoSocket;
    int64_t m_offset = 0;
    std::string m_completion;  // a completion reply still to be sent
    std::chrono::steady_clock::time_point m_completionDue;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_commands;
    ScriptedServer m_control;  // last: its thread uses the members above
};

}  // namespace test_net

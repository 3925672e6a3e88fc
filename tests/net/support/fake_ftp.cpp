#include "support/fake_ftp.h"

#include <algorithm>

#include "support/loopback_listener.h"

namespace test_net {

FakeFtpServer::FakeFtpServer(FakeFtpOptions options)
    : m_options(std::move(options)),
      m_dataListener(ListenLoopback(&m_dataPort)),
      m_control([this](TestConnection& connection, int) { Serve(connection); }) {}

FakeFtpServer::~FakeFtpServer() {
    m_control.Finish();
    if (m_dataListener != socket_port::kNoSocket) socket_port::Close(m_dataListener);
}

std::vector<std::string> FakeFtpServer::Commands() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

void FakeFtpServer::Serve(TestConnection& connection) {
    if (m_options.silent) {
        connection.DrainUntilClosed();
        return;
    }
    for (size_t i = 0; i < m_options.greeting.size(); ++i) {
        if (i > 0) socket_port::SleepMs(50);
        if (!connection.Send(m_options.greeting[i])) return;
    }
    for (;;) {
        if (!SendDueCompletion(connection)) return;
        const std::string line = connection.TakeLine(m_completion.empty() ? kScriptWaitMs : 20);
        if (line.empty()) {
            if (m_completion.empty()) return;
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_commands.push_back(line);
        }
        const std::string text = line.substr(0, line.size() - 2);
        const size_t blank = text.find(' ');
        const std::string verb = text.substr(0, blank);
        const std::string argument = blank == std::string::npos ? "" : text.substr(blank + 1);
        const std::string reply = Answer(verb, argument, connection);
        if (!reply.empty() && !connection.Send(reply)) return;
    }
}

std::string FakeFtpServer::Answer(const std::string& verb, const std::string& argument,
                                  TestConnection& control) {
    if (m_options.answer) {
        const std::string answer = m_options.answer(verb, argument);
        if (!answer.empty()) return answer;
    }
    const auto replaced = m_options.replies.find(verb);
    if (replaced != m_options.replies.end()) return replaced->second;
    if (verb == "USER") return "331 password please\r\n";
    if (verb == "PASS") return "230 logged in\r\n";
    if (verb == "TYPE") return "200 type set\r\n";
    if (verb == "CWD") return "250 folder changed\r\n";
    if (verb == "REST") {
        if (!m_options.acceptRest) return "502 no restart\r\n";
        m_offset = std::stoll(argument);
        return "350 restarting at " + argument + "\r\n";
    }
    if (verb == "SIZE") {
        const int64_t size = m_options.announcedSize >= 0
                                 ? m_options.announcedSize
                                 : static_cast<int64_t>(m_options.content.size());
        return "213 " + std::to_string(size) + "\r\n";
    }
    if (verb == "PASV") {
        return "227 Entering Passive Mode (" + m_options.pasvHost + "," +
               std::to_string(m_dataPort / 256) + "," + std::to_string(m_dataPort % 256) + ").\r\n";
    }
    if (verb == "RETR") return Transfer(control);
    return "500 unknown command\r\n";
}

// 150, the bytes from the REST offset on the data connection, its close, 226.
std::string FakeFtpServer::Transfer(TestConnection& control) {
    // The last transfer ends before the next one starts.
    if (!m_completion.empty() && !control.Send(m_completion)) return {};
    m_completion.clear();
    const socket_port::SocketHandle s = AcceptWithin(m_dataListener, kScriptWaitMs);
    if (s == socket_port::kNoSocket) return "425 no data connection\r\n";
    TestConnection data(s);
    if (!control.Send("150 opening data connection\r\n")) return {};
    const size_t from = static_cast<size_t>(m_offset) < m_options.content.size()
                            ? static_cast<size_t>(m_offset)
                            : m_options.content.size();
    const std::string bytes = m_options.content.substr(from, m_options.sendLimit);
    data.SendInPieces(bytes, std::min(m_options.dataPiece, bytes.size() + 1), m_options.dataPauseMs);
    data.Close();
    m_offset = 0;
    if (m_options.completionDelayMs <= 0) return "226 transfer complete\r\n";
    m_completion = "226 transfer complete\r\n";
    m_completionDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.completionDelayMs);
    return {};
}

bool FakeFtpServer::SendDueCompletion(TestConnection& control) {
    if (m_completion.empty() || std::chrono::steady_clock::now() < m_completionDue) return true;
    const bool sent = control.Send(m_completion);
    m_completion.clear();
    return sent;
}

}  // namespace test_net

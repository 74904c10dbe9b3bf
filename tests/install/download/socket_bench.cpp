// What Wine's sockets cost for the download benchmark (bench/download_bench.py): one plain
// HTTP GET over Winsock, received in pieces of a chosen size and written to a file.
//   socket_bench.exe PORT PATH FILE PIECE
// prints "BYTES bytes in MILLISECONDS ms" (the body's bytes) and ends with 0 when an answer came.
// WinHTTP receives 8 KiB at a time whatever it is asked for, so the time for PIECE 8192 is the
// most that any use of it can reach here; a larger piece shows what the connection itself can do.
#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"

namespace {

class Winsock {
public:
    Winsock() { m_ready = WSAStartup(MAKEWORD(2, 2), &m_data) == 0; }
    ~Winsock() {
        if (m_ready) WSACleanup();
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    bool Ready() const { return m_ready; }

private:
    WSADATA m_data{};
    bool m_ready = false;
};

class Socket {
public:
    Socket() : m_socket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
    ~Socket() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return m_socket; }

private:
    SOCKET m_socket;
};

// The body's bytes written to |file|, or -1.
long long Receive(SOCKET connection, HANDLE file, int piece) {
    std::vector<char> buffer(static_cast<size_t>(piece));
    std::string head;  // the answer's status line and headers, until the empty line
    long long body = 0;
    bool inBody = false;
    for (;;) {
        const int got = recv(connection, buffer.data(), piece, 0);
        if (got < 0) return -1;
        if (got == 0) return inBody ? body : -1;
        const char* data = buffer.data();
        DWORD length = static_cast<DWORD>(got);
        if (!inBody) {
            head.append(data, length);
            const size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            inBody = true;
            const size_t before = head.size() - length;  // bytes of |head| from earlier pieces
            data += end + 4 - before;
            length -= static_cast<DWORD>(end + 4 - before);
        }
        DWORD written = 0;
        if (length != 0 && (!WriteFile(file, data, length, &written, nullptr) || written != length)) return -1;
        body += length;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: socket_bench PORT PATH FILE PIECE\n");
        return 2;
    }
    const int port = _wtoi(argv[1]), piece = _wtoi(argv[4]);
    if (piece <= 0) return 2;
    Winsock winsock;
    Socket connection;
    unique_handle file(CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!winsock.Ready() || connection.get() == INVALID_SOCKET || !file) return 1;
    const auto started = std::chrono::steady_clock::now();
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<u_short>(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = "GET " + WideToUtf8(argv[2]) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (connect(connection.get(), reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 ||
        send(connection.get(), request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size()))
        return 1;
    const long long bytes = Receive(connection.get(), file.get(), piece);
    if (bytes < 0 || !FlushFileBuffers(file.get())) return 1;
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    std::printf("%lld bytes in %lld ms\n", bytes, static_cast<long long>(took));
    return 0;
}

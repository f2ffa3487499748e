#pragma once
// The simulated board's control socket: a unix stream socket on which a test
// or a person sends one command per line and reads its answer. It never
// blocks: the daemon's loop watches pollable_fd() and calls service().
#include <cstddef>
#include <functional>
#include <map>
#include <string>

namespace platform
{
namespace sim
{

class ControlSocket
{
public:
    // One command line without its newline -> the answer's lines.
    using Handler = std::function<std::string(const std::string&)>;

    // A line longer than this is no command: the client is dropped.
    static constexpr std::size_t kMaxLine = 4096;

    explicit ControlSocket(Handler handler);
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Creates the socket at `path` (replacing a stale one); false with errno
    // when it cannot. The socket file is removed at destruction.
    bool listen(const std::string& path);
    int pollable_fd() const { return mEpoll; }
    void service();

private:
    struct Client {
        std::string in;
        std::string out;
        bool closing = false;
    };

    void watch(int fd, unsigned events);
    void on_accept();
    void on_client(int fd, unsigned events);
    void flush(int fd, Client& client);
    void drop_client(int fd);

    Handler mHandler;
    std::map<int, Client> mClients;
    int mEpoll = -1;
    int mListen = -1;
    std::string mPath;
};

} // namespace sim
} // namespace platform

#pragma once
// A small self-contained TCP server exchanging TPKT-framed payloads of at
// most 512 bytes with any number of clients: each client's frames go to an
// optional sink, and a payload can be sent to one client or to all. Every
// protocol violation or socket failure closes that client silently; the
// others are not affected. Start-up does not create one.
#include <cstdint>
#include <list>

#include "runtime/event.hpp"
#include "runtime/fd.hpp"
#include "runtime/listen_watch.hpp"

class TracerSink
{
public:
    virtual ~TracerSink() = default;
    virtual void OnTrace(void const* data, unsigned length) = 0;
};

class TPKTTracer
{
public:
    static constexpr unsigned max_payload = 512;
    static constexpr unsigned max_frame_payload = 65535 - 4;

    struct Connection {
        int state = 1; // 1 reading a header, 0 reading a payload
        unsigned expected = 4;
        unsigned received = 0;
        Event event;
        unsigned char buffer[max_payload];
    };
    using iterator = std::list<Connection*>::iterator;

    TPKTTracer();
    ~TPKTTracer();
    TPKTTracer(const TPKTTracer&) = delete;
    TPKTTracer& operator=(const TPKTTracer&) = delete;

    // The sink is not owned; nullptr drops every payload.
    void SetSink(TracerSink* sink) { mSink = sink; }
    bool Listen(unsigned short port);
    // The port actually listened on (useful after Listen(0)), or 0.
    unsigned short Port() const;
    void Send(void const* data, unsigned length);

    void OnEvent(int fd, short revents);
    void OnDataEvent(int fd, short revents);
    void FindConnection(int fd);
    void CloseConnection(iterator i);

    std::size_t ClientCount() const { return mConnections.size(); }
    // The client being read, or the end of the list outside a read.
    iterator Current() const { return mCurrent; }

private:
    // False when the write failed and the client was closed.
    bool Write(iterator i, void const* data, unsigned length);
    void ReadFrom(Connection& c);

    TracerSink* mSink = nullptr;
    Fd mListen;
    ListenWatch mListenWatch;
    std::list<Connection*> mConnections;
    iterator mCurrent;
    // Set while a client's frames are handled: a Send from the sink then
    // answers that client only, even when the client is already gone.
    bool mReading = false;
};

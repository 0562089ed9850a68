// Something that listens for peers from the frame loop: a control socket,
// a metrics endpoint, each in listeners/. The launcher adds the ones its
// command line asks for with Service_AddListener (service.h). The hub polls every listener and every peer it
// has with one poll() of zero timeout, at most every kListenerPollInterval,
// and hands each listener back the entries it asked for.
//
// Peers are hostile until proven otherwise: a listener bounds what it
// reads, times out who stays silent, caps its connections and refuses with
// one exact line.
#ifndef TARN_SERVICE_LISTENER_H
#define TARN_SERVICE_LISTENER_H

#include <cstdint>
#include <poll.h>

// How often the listeners' descriptors are polled, in µs.
constexpr int64_t kListenerPollInterval = 10000;
// The descriptors one listener may ask to be polled: itself and its peers.
constexpr int kMaxListenerDescriptors = 16;

class IListener {
public:
    virtual ~IListener() {}
    // Fills out with the descriptors to poll and their events; returns how
    // many, at most kMaxListenerDescriptors.
    virtual int Watch(pollfd* out) = 0;
    // The same entries after the poll, with their revents: accepts, reads,
    // writes and closes what is ready, without waiting.
    virtual void Serve(const pollfd* polled, int count, int64_t now) = 0;
    // The process ends: every descriptor is closed and the socket file, if
    // any, removed. Must be safe to call twice.
    virtual void Close() = 0;
    // The next line a peer sent for the engine, or null; the text stays
    // valid until the next call.
    virtual const char* TakeLine() { return nullptr; }
};

#endif

// The HTTP endpoint that hands the telemetry to a scraper: GET or HEAD of
// /metrics answers the page of metrics_page.h, or that of
// metrics_proto_page.h where the Accept field asks for it (http_accept.h).
// It is a listener of the service (listener.h), so it is served from the
// frame loop and never waits inside a frame; while a frame hangs it does
// not answer at all, which is how a scraper sees the hang.
//
// Every peer is bounded: a request head of at most 4 KiB (431 beyond), 2 s
// to send it and 2 s to take the answer, at most 4 connections (a fifth is
// answered 503 and closed at once), and one answer per connection.
#ifndef TARN_SERVICE_LISTENERS_METRICS_ENDPOINT_H
#define TARN_SERVICE_LISTENERS_METRICS_ENDPOINT_H

#include "common/listen_address.h"

class IListener;

// Binds address and listens: the listener for the service to drive from the
// frame loop, or null with failure the errno of what failed.
IListener* Metrics_Listen(const ListenAddress& address, int& failure);

#endif

// Reads the value of a request's Accept header field for the one thing the
// metrics endpoint chooses by it: whether the scraper takes the page in
// Prometheus's protobuf format (metrics_proto_page.h).
#ifndef TARN_SERVICE_LISTENERS_HTTP_ACCEPT_H
#define TARN_SERVICE_LISTENERS_HTTP_ACCEPT_H

#include "common/http_text.h"

// True when line, a header field of a request, is an Accept field whose
// value lists application/vnd.google.protobuf with the parameters
// proto=io.prometheus.client.MetricFamily and encoding=delimited, in any
// order, and without a q of 0. The field's name, the media type and the
// parameters' names are matched whatever their case.
bool Http_AcceptsProtobufPage(HttpText line);

#endif

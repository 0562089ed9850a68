// The telemetry as a page of Prometheus's text exposition format, version
// 0.0.4: the frame histograms, the counters and the gauges. The endpoint
// serves it unless the request's Accept field asks for the protobuf page
// (metrics_proto_page.h), which holds the same families.
#ifndef TARN_SERVICE_LISTENERS_METRICS_PAGE_H
#define TARN_SERVICE_LISTENERS_METRICS_PAGE_H

#include <cstddef>

// Room for the page with every number at its longest (about 11 KiB).
constexpr size_t kMetricsPageSize = 16384;

// The media type of the page, for an HTTP answer.
constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// Writes the page into out, of size bytes; returns its length, or 0 when it
// does not fit.
size_t Metrics_WritePage(char* out, size_t size);

#endif

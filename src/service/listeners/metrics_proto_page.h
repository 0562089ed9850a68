// The telemetry as a page of Prometheus's protobuf exposition format: the
// families of the text page (metrics_page.h), in its order, as a stream of
// io.prometheus.client.MetricFamily messages, each after its length. Its
// histograms carry the classic buckets and the native ones, so a scraper
// that reads native histograms gets those.
#ifndef TARN_SERVICE_LISTENERS_METRICS_PROTO_PAGE_H
#define TARN_SERVICE_LISTENERS_METRICS_PROTO_PAGE_H

#include <cstddef>

// Room for the page with every bucket populated and every number at its
// longest (about 37 KiB); a page of frames runs to about 3 KiB.
constexpr size_t kMetricsProtoPageSize = 40960;

// The media type of the page, for an HTTP answer.
constexpr const char* kMetricsProtoContentType =
    "application/vnd.google.protobuf; proto=io.prometheus.client.MetricFamily; encoding=delimited";

// Writes the page into out, of size bytes; returns its length, or 0 when it
// does not fit.
size_t Metrics_WriteProtoPage(char* out, size_t size);

#endif

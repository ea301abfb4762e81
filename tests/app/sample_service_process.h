// pelvaro-service over the sample catalogue (data/sample-shares.csv), started through
// tests/e2e/service_launcher.py on a loopback port so that the search job talks real HTTP. Started
// once per test program and stopped at its end; the launcher records the head of every request the
// service receives.
#pragma once

#include "app/search_job.h"

#include <string>

// Where the app tests' searches go, whatever the build's own search host is.
inline constexpr char ServiceHost[] = "127.0.0.1";
inline constexpr char ServicePort[] = "8936";
inline constexpr char ServiceShareDomain[] = "pan.baidu.com";
inline constexpr char ServiceContact[] = "10000000";
inline SearchSettings ServiceSettings() {
  return {std::string(ServiceHost) + ":" + ServicePort, ServiceShareDomain, ServiceContact};
}

// Starts the service and waits until it listens; false, with the reason on standard error, when it
// could not (for example when another program already holds the port).
bool StartSampleService();
void StopSampleService();

// The request lines and headers received since the last ClearRecordedRequests, byte for byte.
std::string RecordedRequests();
void ClearRecordedRequests();

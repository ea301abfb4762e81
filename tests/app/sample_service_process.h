// pelvaro-service over the sample catalogue (data/sample-shares.csv), started through
// tests/e2e/service_launcher.py on the address of SearchHost so that the search job talks real
// HTTP over loopback. Started once per test program and stopped at its end; the launcher records
// the head of every request the service receives.
#pragma once

#include <string>

// False when SearchHost is not a loopback address with a port this program may serve.
bool SampleServiceWanted();

// Starts the service and waits until it listens; false, with the reason on standard error, when it
// could not (for example when another program already holds the port).
bool StartSampleService();
void StopSampleService();

// The request lines and headers received since the last ClearRecordedRequests, byte for byte.
std::string RecordedRequests();
void ClearRecordedRequests();

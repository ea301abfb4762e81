// The bundled sample service (tools/sample-service/sample_service.py), run by the app tests on the
// address of SearchHost so that the search job talks real HTTP over loopback. Started once per
// test program and stopped at its end; it records the head of every request it receives.
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

"""The sample service with a clock: for every search request it appends one line to a log,

    <monotonic seconds when the request head was read> <monotonic seconds when the whole answer
    was written to the socket> <request target>

in CLOCK_MONOTONIC, which every process on the machine shares, so a benchmark can set the answer's
arrival beside the moment the window showed its rows.

    timed_service.py SAMPLE_SERVICE LOG [sample service options]
"""

import importlib.util
import sys
import time


def main(sample_path, log, *options):
    module_spec = importlib.util.spec_from_file_location("sample_service", sample_path)
    sample = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(sample)

    class TimedHandler(sample.Handler):
        def parse_request(self):
            self.head_read = time.monotonic()
            return super().parse_request()

        def send_page(self, status, text):
            super().send_page(status, text)
            self.wfile.flush()
            if self.path.startswith("/?"):
                written = time.monotonic()
                with self.server.record_lock, open(log, "a") as out:
                    out.write(f"{self.head_read:.6f} {written:.6f} {self.path}\n")

    sample.Handler = TimedHandler
    sys.argv = [sample_path, *options]
    return sample.main()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))

#pragma once
// The JTAG chain scan: how many devices the adapter finds, their total
// instruction-register length and the IDs of the first ten, into the log.

namespace lindprog {

class TAdapter;
class TLogSink;

void RunJtagScan(TAdapter& port, TLogSink& log);

} // namespace lindprog

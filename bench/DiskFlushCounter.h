#pragma once

// Counts the calls that flush files to disk (fdatasync, fsync, sync) made by
// any code of the benchmark process, the toolkit's included: the benchmark
// executable defines these libc functions itself and forwards each call.
namespace DiskFlushCounter {

int count();

} // namespace DiskFlushCounter

// jemalloc's settings, read when it starts (before main). Linked into the
// programs that use jemalloc, and only those.
//
// A background thread hands pages freed a second ago back to the system, a
// few at a time, rather than a whole heap being trimmed under a lock that
// the interface then waits for. Pages are returned at once ("muzzy" decay
// 0), so resident memory falls back within a second or so of a large pass.
extern "C" {
extern const char *malloc_conf;
const char *malloc_conf = "background_thread:true,dirty_decay_ms:1000,muzzy_decay_ms:0";
}

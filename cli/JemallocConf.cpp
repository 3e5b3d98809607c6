// jemalloc reads its start-up options from this symbol. A whole-site map
// touches a few hundred megabytes of nodes once each: on huge pages that
// costs a hundredth of the page faults and far fewer TLB misses. Where the
// kernel has transparent huge pages off, this changes nothing.
extern "C" {
extern const char *malloc_conf;
const char *malloc_conf = "thp:always,metadata_thp:always";
}

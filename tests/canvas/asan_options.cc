// Sanitizer suppressions of the canvas tests. AGG's font cache pool drops
// its oldest font by copying the rest of its pointer array one slot down
// with memcpy over overlapping ranges; the sanitizer rightly objects, and
// the header is not ours to change.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_suppressions()
{
  return "interceptor_via_fun:agg::font_cache_pool::font\n";
}
#endif

// A loadable library that is not a plug-in (no entry point): a broken inner
// maximizer for the effect, a broken plug-in for the command-line host.
#if defined(_WIN32)
extern "C" __declspec(dllexport) int orvexTestNotAPlugin()
#else
extern "C" __attribute__((visibility("default"))) int orvexTestNotAPlugin()
#endif
{
    return 1;
}

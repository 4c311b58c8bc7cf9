// Anchor of libmonvid.so; the control's parts are linked into it whole.
extern "C" const char monvid_module_name[] = "Monvid";

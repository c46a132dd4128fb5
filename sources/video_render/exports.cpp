// The DLL's own translation unit: everything it exports comes from video_render_core,
// linked in whole.
#include "kx_vidrender.h"

// A backend that does nothing, installed through the backend seam so that a renderer made
// through the public interface runs the front's own work only: the window size check, the
// scaling of software frames to the window and the fixed call sequence.
#pragma once

#include "backend_factory.h"

// What the null backends received, for a benchmark's sanity check.
struct null_backend_tally {
    int frames;       // update_image calls
    int luma_stride;  // of the last picture
    int backend_kind; // of the last backend made
};

// Installs the null seam (reporting Direct3D 9 as usable) for the life of the object.
class null_backend_seam {
  public:
    null_backend_seam();
    ~null_backend_seam();
    null_backend_seam(const null_backend_seam&) = delete;
    null_backend_seam& operator=(const null_backend_seam&) = delete;

    null_backend_tally tally() const;
};

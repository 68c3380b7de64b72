// A picture object's pixels, read the way any client can: the picture saves itself into a stream.
#pragma once

#include "Image.h"

#include <ocidl.h>

namespace demo {

// IPicture::SaveAsFile writes a bitmap picture as a bitmap file; this decodes it.
// Throws std::runtime_error when the picture cannot be saved or read.
Image PictureImage(IPicture* picture);

}  // namespace demo

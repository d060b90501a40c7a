#pragma once

#include <hb.h>

#include <memory>

namespace tavo::fontid {

// Owning handles for the HarfBuzz objects this library creates.
struct HbBlobDeleter {
    void operator()(hb_blob_t* blob) const { hb_blob_destroy(blob); }
};
struct HbFaceDeleter {
    void operator()(hb_face_t* face) const { hb_face_destroy(face); }
};
using HbBlob = std::unique_ptr<hb_blob_t, HbBlobDeleter>;
using HbFace = std::unique_ptr<hb_face_t, HbFaceDeleter>;

}  // namespace tavo::fontid

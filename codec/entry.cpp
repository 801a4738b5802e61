// The decoding entry point: one compressed frame in, one picture out.
// (The compressing entry point lives with the frame encoder.)
#include "filters_internal.h"
#include "korvo.h"
#include "pixel_internal.h"
#include "prediction_internal.h"
#include "reconstruct_internal.h"
#include "syntax_internal.h"
int16_t DecompressPixMap(KorvParams* params) {
    params->streamBytes = 0;
    // Without a VOP start code nothing is decoded and the caller's picture stays as it was.
    if (ReadVopHeader(params) != kKorvoOK) return kKorvoOK;
    if (StreamToVop(params) != kKorvoOK) return kKorvoEntryFailed;
    Vop* vop = params->vop;
    Vop_Decompress(vop);
    Vop_ApplyMotion(vop);
    if (VopToPlanes(params) != kKorvoOK || PostFilter(params) != kKorvoOK || PlanesToPixMap(params) != kKorvoOK)
        return kKorvoEntryFailed;
    return kKorvoOK;
}

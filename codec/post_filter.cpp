// The post-filter driver: pads the reconstructed planes and runs the filters the stream announced
// (deblocking, then deringing). Encoder and decoder both run it on every coded picture.
#include "filters_internal.h"
#include "frame_internal.h"
#include "korvo.h"
int16_t PostFilter(KorvParams* params)
{
	Vop* vop = params->vop;
	if (!vop || !vop->coded || !vop->planeY)
		return 0;
	Vop_Pad(vop);
	if (params->deblock) {
		if (vop->codingType == kCodingTypeI)
			Deblock_VopIntra2(vop);
		else
			Deblock_Vop(vop);
	}
	if (params->dering)
		Vop_Dering(vop);
	return 0;
}

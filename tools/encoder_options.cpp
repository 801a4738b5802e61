// The encoder settings beyond quality. A setting is looked for first as a parameter of the encoder's
// web (by name), then as a check box of its settings view; quality is set again afterwards so an
// encoder that reads its view when its parameters change picks the settings up.
#include "encoder_options.h"

#include <cstring>

#include "CheckBox.h"
#include "MediaTrack.h"
#include "ParameterWeb.h"
#include "View.h"
#include "addons.h"
#include "mediaconv.h"

namespace {

bool SetInWeb(BMediaTrack* track, const char* name)
{
	BParameterWeb* web = track->Web();
	if (!web)
		return false;
	for (int32 i = 0; i < web->CountParameters(); i++) {
		BParameter* p = web->ParameterAt(i);
		if (p && Simplified(p->Name()) == Simplified(name)) {
			const int32 on = 1;
			return track->SetParameterValue(p->ID(), &on, sizeof on) == B_OK;
		}
	}
	return false;
}

bool SetInView(BMediaTrack* track, const char* viewName)
{
	BView* view = track->GetParameterView();
	if (!view)
		return false;
	auto* box = dynamic_cast<BCheckBox*>(view->FindView(viewName));
	if (!box)
		return false;
	box->SetValue(B_CONTROL_ON);
	return true;
}

void Apply(BMediaTrack* track, const char* name, const char* viewName, const char* option,
           const std::string& output)
{
	if (SetInWeb(track, name) || SetInView(track, viewName))
		return;
	media_codec_info codec{};
	track->GetCodecInfo(&codec);
	throw Failure(output, std::string("encoder \"") + codec.short_name + "\" offers no " + name +
	                          " setting for " + option);
}

}  // namespace

void ApplyEncoderOptions(BMediaTrack* track, const Options& options, const std::string& output)
{
	if (!options.artifactReduction && !options.optimal)
		return;
	if (options.artifactReduction)
		Apply(track, "Artifact Reduction", "ArtifactReduction", "--artifact-reduction", output);
	if (options.optimal)
		Apply(track, "Optimal Compression", "OptimalCompression", "--optimal", output);
	encode_parameters p{};
	p.quality = options.quality;
	track->SetEncodeParameters(&p);
}

// The encoder settings beyond quality (switches, data rate, key-frame interval, tuning), found by name among
// the parameters of the encoder's web. The check boxes of an encoder's settings view are not used: an
// encoder need not read them back, so setting them proves nothing, and a setting that cannot be seen
// to take effect is refused instead.
#include "encoder_options.h"

#include <thread>

#include "MediaTrack.h"
#include "ParameterWeb.h"
#include "addons.h"
#include "console.h"
#include "mediaconv.h"

namespace {

BParameter* Named(BMediaTrack* track, const char* name)
{
	BParameterWeb* web = track->Web();
	for (int32 i = 0; web && i < web->CountParameters(); i++) {
		BParameter* p = web->ParameterAt(i);
		if (p && Simplified(p->Name()) == Simplified(name))
			return p;
	}
	return nullptr;
}

// Sets the parameter named `name` to `value`, or a switch (value < 0) to on.
void Apply(BMediaTrack* track, const char* name, const char* option, const std::string& output,
           float value = -1)
{
	if (BParameter* p = Named(track, name)) {
		status_t s;
		if (p->Type() == BParameter::B_CONTINUOUS_PARAMETER) {
			const float set = value >= 0 ? value : static_cast<BContinuousParameter*>(p)->MaxValue();
			s = track->SetParameterValue(p->ID(), &set, sizeof set);
		} else {
			const int32 on = 1;
			s = track->SetParameterValue(p->ID(), &on, sizeof on);
		}
		if (s != B_OK)
			throw Failure(output, std::string("the encoder refuses ") + option + ": " + status_text(s));
		return;
	}
	media_codec_info codec{};
	track->GetCodecInfo(&codec);
	throw Failure(output, std::string("encoder \"") + codec.short_name + "\" offers no " + name +
	                              " parameter for " + option);
}

}  // namespace

void SetQuality(BMediaTrack* track, const Options& options, const std::string& codec)
{
	encode_parameters p{};
	p.quality = options.bitrate && !options.qualityGiven ? 0.0f : options.quality;
	if (track->SetEncodeParameters(&p) != B_OK && options.qualityGiven)
		throw UsageFailure("--quality: encoder \"" + codec + "\" has no quality setting");
}

std::string ApplyEncoderOptions(BMediaTrack* track, const Options& options, const std::string& output)
{
	if (options.artifactReduction)
		Apply(track, "Artifact Reduction", "--artifact-reduction", output);
	if (options.optimal)
		Apply(track, "Optimal Compression", "--optimal", output);
	if (options.bitrate > 0)
		Apply(track, "Data Rate", "--bitrate", output, static_cast<float>(options.bitrate));
	if (options.keyInterval > 0)
		Apply(track, "Key Frame Interval", "--keyint", output, static_cast<float>(options.keyInterval));
	// The better tuning is the tool's default where the encoder has a choice; only an explicit --tune
	// asks an encoder without one for it.
	if (!options.tuneGiven && !Named(track, "Tuning"))
		return "";
	Apply(track, "Tuning", "--tune", output, options.tune == "better" ? 1.0f : 0.0f);
	return options.tune;
}

void ApplyThreads(BMediaTrack* track, const Options& options, const std::string& file)
{
	const unsigned cores = std::thread::hardware_concurrency();
	float count = (float)(options.threads ? options.threads : cores ? cores : 1);
	BParameterWeb* web = track->Web();
	media_codec_info codec;
	// A track whose codec could not be set up says why when it is read; there is nothing to set.
	if (!web && track->GetCodecInfo(&codec) != B_OK)
		return;
	for (int32 i = 0; web && i < web->CountParameters(); i++) {
		BParameter* p = web->ParameterAt(i);
		if (!p || Simplified(p->Name()) != Simplified("Threads") ||
		    p->Type() != BParameter::B_CONTINUOUS_PARAMETER)
			continue;
		const float most = static_cast<BContinuousParameter*>(p)->MaxValue();
		if (count > most) {
			if (options.threads)
				fprintf(Console::Err(), "mediaconv: warning: %s: --threads %u is more than the codec's %g\n",
				        file.c_str(), options.threads, most);
			count = most;
		}
		const status_t s = track->SetParameterValue(p->ID(), &count, sizeof count);
		if (s != B_OK)
			throw Failure(file, std::string("the codec refuses --threads: ") + status_text(s));
		return;
	}
	if (options.threads)
		fprintf(Console::Err(),
		        "mediaconv: warning: %s: the codec offers no Threads parameter; --threads is ignored\n",
		        file.c_str());
}

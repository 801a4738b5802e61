// BParameterWeb, its groups and continuous parameters: an owning tree of records.
// Groups and parameters are deleted with the web that made them.
#include "ParameterWeb.h"

const char* const B_GENERIC = "";
const char* const B_GAIN = "be:gain";
const char* const B_QUALITY = "be:quality";

static std::string OrEmpty(const char* text) { return text ? text : ""; }

BParameter::BParameter(media_parameter_type type, int32 id, media_type mediaType, const char* name,
                       const char* kind, BParameterGroup* group)
    : fType(type), fID(id), fMediaType(mediaType), fName(OrEmpty(name)), fKind(OrEmpty(kind)), fGroup(group)
{
}

BParameter::~BParameter() = default;

BContinuousParameter::BContinuousParameter(int32 id, media_type mediaType, const char* name, const char* kind,
                                           const char* unit, float minimum, float maximum, float step,
                                           BParameterGroup* group)
    : BParameter(B_CONTINUOUS_PARAMETER, id, mediaType, name, kind, group), fUnit(OrEmpty(unit)),
      fMinimum(minimum), fMaximum(maximum), fStep(step)
{
}

BParameterGroup::BParameterGroup(BParameterWeb* web, const char* name) : fWeb(web), fName(OrEmpty(name)) {}

BParameterGroup::~BParameterGroup()
{
	for (BParameter* p : fParameters)
		delete p;
	for (BParameterGroup* g : fGroups)
		delete g;
}

BParameterGroup* BParameterGroup::MakeGroup(const char* name)
{
	fGroups.reserve(fGroups.size() + 1);
	fGroups.push_back(new BParameterGroup(fWeb, name));
	return fGroups.back();
}

BContinuousParameter* BParameterGroup::MakeContinuousParameter(int32 id, media_type mediaType,
                                                               const char* name, const char* kind,
                                                               const char* unit, float minimum, float maximum,
                                                               float stepping)
{
	// Room first, so a failing allocation loses nothing that was made.
	fParameters.reserve(fParameters.size() + 1);
	auto* p = new BContinuousParameter(id, mediaType, name, kind, unit, minimum, maximum, stepping, this);
	fParameters.push_back(p);
	return p;
}

BParameterGroup* BParameterGroup::GroupAt(int32 index) const
{
	return index >= 0 && index < CountGroups() ? fGroups[index] : nullptr;
}

BParameter* BParameterGroup::ParameterAt(int32 index) const
{
	return index >= 0 && index < CountParameters() ? fParameters[index] : nullptr;
}

BParameterWeb::BParameterWeb() = default;

BParameterWeb::~BParameterWeb()
{
	for (BParameterGroup* g : fGroups)
		delete g;
}

BParameterGroup* BParameterWeb::MakeGroup(const char* name)
{
	fGroups.reserve(fGroups.size() + 1);
	fGroups.push_back(new BParameterGroup(this, name));
	return fGroups.back();
}

BParameterGroup* BParameterWeb::GroupAt(int32 index) const
{
	return index >= 0 && index < CountGroups() ? fGroups[index] : nullptr;
}

// Parameters of `group` and its subgroups, depth first, appended to `out`.
static void Collect(const BParameterGroup* group, std::vector<BParameter*>* out)
{
	for (int32 i = 0; i < group->CountParameters(); i++)
		out->push_back(group->ParameterAt(i));
	for (int32 i = 0; i < group->CountGroups(); i++)
		Collect(group->GroupAt(i), out);
}

int32 BParameterWeb::CountParameters() const
{
	std::vector<BParameter*> all;
	for (const BParameterGroup* g : fGroups)
		Collect(g, &all);
	return (int32)all.size();
}

BParameter* BParameterWeb::ParameterAt(int32 index) const
{
	std::vector<BParameter*> all;
	for (const BParameterGroup* g : fGroups)
		Collect(g, &all);
	return index >= 0 && index < (int32)all.size() ? all[index] : nullptr;
}

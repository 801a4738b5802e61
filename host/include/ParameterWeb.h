// BParameterWeb: the description of an object's settings as groups of parameters, so applications can
// show and change them. Only records here: continuous parameters with their range, kind and unit.
#pragma once

#include <string>
#include <vector>

#include "MediaDefs.h"

// Parameter kinds; B_GENERIC is the one with no special meaning.
KORVO_HOST_API extern const char* const B_GENERIC;
KORVO_HOST_API extern const char* const B_GAIN;
KORVO_HOST_API extern const char* const B_QUALITY;

class BParameterGroup;
class BParameterWeb;

class KORVO_HOST_API BParameter {
public:
	enum media_parameter_type { B_NULL_PARAMETER, B_DISCRETE_PARAMETER, B_CONTINUOUS_PARAMETER };
	virtual ~BParameter();

	media_parameter_type Type() const { return fType; }
	int32 ID() const { return fID; }
	media_type MediaType() const { return fMediaType; }
	const char* Name() const { return fName.c_str(); }
	const char* Kind() const { return fKind.c_str(); }
	BParameterGroup* Group() const { return fGroup; }

protected:
	BParameter(media_parameter_type type, int32 id, media_type mediaType, const char* name, const char* kind,
	           BParameterGroup* group);

private:
	media_parameter_type fType;
	int32 fID;
	media_type fMediaType;
	std::string fName;
	std::string fKind;
	BParameterGroup* fGroup;
};

class KORVO_HOST_API BContinuousParameter : public BParameter {
public:
	const char* Unit() const { return fUnit.c_str(); }
	float MinValue() const { return fMinimum; }
	float MaxValue() const { return fMaximum; }
	float ValueStep() const { return fStep; }

private:
	friend class BParameterGroup;
	BContinuousParameter(int32 id, media_type mediaType, const char* name, const char* kind, const char* unit,
	                     float minimum, float maximum, float step, BParameterGroup* group);
	std::string fUnit;
	float fMinimum, fMaximum, fStep;
};

class KORVO_HOST_API BParameterGroup {
public:
	~BParameterGroup();

	const char* Name() const { return fName.c_str(); }
	BParameterWeb* Web() const { return fWeb; }

	BParameterGroup* MakeGroup(const char* name);
	BContinuousParameter* MakeContinuousParameter(int32 id, media_type mediaType, const char* name,
	                                              const char* kind, const char* unit, float minimum,
	                                              float maximum, float stepping);

	int32 CountGroups() const { return (int32)fGroups.size(); }
	BParameterGroup* GroupAt(int32 index) const;
	int32 CountParameters() const { return (int32)fParameters.size(); }
	BParameter* ParameterAt(int32 index) const;

private:
	friend class BParameterWeb;
	BParameterGroup(BParameterWeb* web, const char* name);
	BParameterGroup(const BParameterGroup&) = delete;
	BParameterGroup& operator=(const BParameterGroup&) = delete;

	BParameterWeb* fWeb;
	std::string fName;
	std::vector<BParameterGroup*> fGroups;
	std::vector<BParameter*> fParameters;
};

// Owns its groups and their parameters.
class KORVO_HOST_API BParameterWeb {
public:
	BParameterWeb();
	~BParameterWeb();

	BParameterGroup* MakeGroup(const char* name);
	int32 CountGroups() const { return (int32)fGroups.size(); }
	BParameterGroup* GroupAt(int32 index) const;
	// Every parameter of every group, depth first.
	int32 CountParameters() const;
	BParameter* ParameterAt(int32 index) const;

private:
	BParameterWeb(const BParameterWeb&) = delete;
	BParameterWeb& operator=(const BParameterWeb&) = delete;
	std::vector<BParameterGroup*> fGroups;
};

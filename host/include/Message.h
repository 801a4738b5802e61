// BMessage: a command code and named, typed fields. Used here as the archive a view is rebuilt from
// and as the message a control would send; nothing is delivered anywhere.
#pragma once

#include <string>
#include <vector>

#include "Errors.h"
#include "Rect.h"

class KORVO_HOST_API BMessage {
public:
	uint32 what = 0;

	BMessage() = default;
	explicit BMessage(uint32 command) : what(command) {}

	status_t AddInt32(const char* name, int32 value);
	status_t AddFloat(const char* name, float value);
	status_t AddBool(const char* name, bool value);
	status_t AddString(const char* name, const char* value);
	status_t AddRect(const char* name, BRect value);

	// B_NAME_NOT_FOUND if there is no field of that name and type at `index`.
	status_t FindInt32(const char* name, int32* value, int32 index = 0) const;
	status_t FindFloat(const char* name, float* value, int32 index = 0) const;
	status_t FindBool(const char* name, bool* value, int32 index = 0) const;
	// The string stays valid while the message exists.
	status_t FindString(const char* name, const char** value, int32 index = 0) const;
	status_t FindRect(const char* name, BRect* value, int32 index = 0) const;

	int32 CountFields() const { return (int32)fFields.size(); }
	bool IsEmpty() const { return fFields.empty(); }
	void MakeEmpty() { fFields.clear(); }

private:
	enum FieldType { kInt32, kFloat, kBool, kString, kRect };
	struct Field {
		std::string name;
		FieldType type;
		int32 i = 0;
		float f = 0;
		std::string s;
		BRect r;
	};
	const Field* Find(const char* name, FieldType type, int32 index) const;

	std::vector<Field> fFields;
};

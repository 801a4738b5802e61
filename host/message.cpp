// BMessage fields: a flat list of named, typed values looked up by name, type and index.
// Adding never replaces; Find returns the index-th field of that name and type.
#include <cstring>

#include "Message.h"

const BMessage::Field* BMessage::Find(const char* name, FieldType type, int32 index) const
{
	if (!name || index < 0)
		return nullptr;
	for (const Field& f : fFields) {
		if (f.type == type && f.name == name && index-- == 0)
			return &f;
	}
	return nullptr;
}

status_t BMessage::AddInt32(const char* name, int32 value)
{
	if (!name)
		return B_BAD_VALUE;
	fFields.push_back({name, kInt32, value, 0, {}, {}});
	return B_OK;
}

status_t BMessage::AddFloat(const char* name, float value)
{
	if (!name)
		return B_BAD_VALUE;
	fFields.push_back({name, kFloat, 0, value, {}, {}});
	return B_OK;
}

status_t BMessage::AddBool(const char* name, bool value)
{
	if (!name)
		return B_BAD_VALUE;
	fFields.push_back({name, kBool, value ? 1 : 0, 0, {}, {}});
	return B_OK;
}

status_t BMessage::AddString(const char* name, const char* value)
{
	if (!name || !value)
		return B_BAD_VALUE;
	fFields.push_back({name, kString, 0, 0, value, {}});
	return B_OK;
}

status_t BMessage::AddRect(const char* name, BRect value)
{
	if (!name)
		return B_BAD_VALUE;
	fFields.push_back({name, kRect, 0, 0, {}, value});
	return B_OK;
}

status_t BMessage::FindInt32(const char* name, int32* value, int32 index) const
{
	const Field* f = Find(name, kInt32, index);
	if (!f)
		return B_NAME_NOT_FOUND;
	*value = f->i;
	return B_OK;
}

status_t BMessage::FindFloat(const char* name, float* value, int32 index) const
{
	const Field* f = Find(name, kFloat, index);
	if (!f)
		return B_NAME_NOT_FOUND;
	*value = f->f;
	return B_OK;
}

status_t BMessage::FindBool(const char* name, bool* value, int32 index) const
{
	const Field* f = Find(name, kBool, index);
	if (!f)
		return B_NAME_NOT_FOUND;
	*value = f->i != 0;
	return B_OK;
}

status_t BMessage::FindString(const char* name, const char** value, int32 index) const
{
	const Field* f = Find(name, kString, index);
	if (!f)
		return B_NAME_NOT_FOUND;
	*value = f->s.c_str();
	return B_OK;
}

status_t BMessage::FindRect(const char* name, BRect* value, int32 index) const
{
	const Field* f = Find(name, kRect, index);
	if (!f)
		return B_NAME_NOT_FOUND;
	*value = f->r;
	return B_OK;
}

// What `info` says about a file, built once and printed either as aligned text or as JSON: each field
// has a label, its text in the text form and its JSON value.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// A JSON value: null, a number, a string, an array or an object whose keys keep their order.
class Json {
public:
	Json() = default;
	static Json Integer(int64_t value);
	static Json Real(double value);  // null when not finite
	static Json String(std::string value);
	static Json Array();
	static Json Object();

	Json& Push(Json value);                         // to an array
	Json& Set(const std::string& key, Json value);  // to an object
	void Write(FILE* out, int indent) const;

private:
	enum class Kind { Null, Integer, Real, String, Array, Object };
	Kind fKind = Kind::Null;
	int64_t fInteger = 0;
	double fReal = 0;
	std::string fString;
	std::vector<std::pair<std::string, Json>> fMembers;  // an array's keys are empty
};

// A described thing, a file or one of its tracks: labelled fields in the order they are printed.
struct Record {
	struct Field {
		std::string label;  // "bit rate"; its JSON key is "bit_rate"
		std::string text;   // "353.0 kb/s"
		Json value;         // 353000 (bits per second)
		bool heading;       // a track's heading fields share its "track N:" line
	};
	std::vector<Field> fields;
	std::vector<Record> tracks;  // listed in place of the field labelled "tracks"

	void Add(const std::string& label, const std::string& text, Json value)
	{
		fields.push_back({label, text, std::move(value), false});
	}
	void AddHeading(const std::string& label, const std::string& text, Json value)
	{
		fields.push_back({label, text, std::move(value), true});
	}
};

// The text form: "label:     text" lines; after the "tracks" line each track as "track N:   kind, codec"
// and its fields indented.
void PrintText(FILE* out, const Record& file);
// One JSON object: the same labels as keys (spaces as '_'), "tracks" an array of the tracks' objects.
void PrintJson(FILE* out, const Record& file);

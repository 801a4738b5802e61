// Printing a Record as text or JSON.
#include "report.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstring>

Json Json::Integer(int64_t value)
{
	Json j;
	j.fKind = Kind::Integer;
	j.fInteger = value;
	return j;
}

Json Json::Real(double value)
{
	Json j;
	if (std::isfinite(value)) {
		j.fKind = Kind::Real;
		j.fReal = value;
	}
	return j;
}

Json Json::String(std::string value)
{
	Json j;
	j.fKind = Kind::String;
	j.fString = std::move(value);
	return j;
}

Json Json::Array()
{
	Json j;
	j.fKind = Kind::Array;
	return j;
}

Json Json::Object()
{
	Json j;
	j.fKind = Kind::Object;
	return j;
}

Json& Json::Push(Json value)
{
	fMembers.emplace_back(std::string(), std::move(value));
	return *this;
}

Json& Json::Set(const std::string& key, Json value)
{
	fMembers.emplace_back(key, std::move(value));
	return *this;
}

namespace {

void WriteString(FILE* out, const std::string& s)
{
	fputc('"', out);
	for (unsigned char c : s) {
		if (c == '"' || c == '\\')
			fprintf(out, "\\%c", c);
		else if (c == '\n')
			fputs("\\n", out);
		else if (c < 0x20)
			fprintf(out, "\\u%04x", c);
		else
			fputc(c, out);
	}
	fputc('"', out);
}

std::string Key(const std::string& label)
{
	std::string key = label;
	for (char& c : key) {
		if (c == ' ')
			c = '_';
	}
	return key;
}

// "label:" padded to `width`, and at least one space after the colon.
std::string Label(const std::string& label, size_t width)
{
	std::string text = label + ":";
	text.resize(std::max(width, text.size() + 1), ' ');
	return text;
}

}  // namespace

void Json::Write(FILE* out, int indent) const
{
	switch (fKind) {
		case Kind::Null: fputs("null", out); return;
		case Kind::Integer: fprintf(out, "%" PRId64, fInteger); return;
		case Kind::Real: {
			// Always with a point or an exponent, so readers take it as a real number.
			char text[32];
			snprintf(text, sizeof text, "%.9g", fReal);
			fprintf(out, "%s%s", text, strpbrk(text, ".e") ? "" : ".0");
			return;
		}
		case Kind::String: WriteString(out, fString); return;
		case Kind::Array:
		case Kind::Object: break;
	}
	const bool object = fKind == Kind::Object;
	fputc(object ? '{' : '[', out);
	for (size_t i = 0; i < fMembers.size(); i++) {
		fprintf(out, "%s\n%*s", i ? "," : "", indent + 2, "");
		if (object) {
			WriteString(out, fMembers[i].first);
			fputs(": ", out);
		}
		fMembers[i].second.Write(out, indent + 2);
	}
	if (!fMembers.empty())
		fprintf(out, "\n%*s", indent, "");
	fputc(object ? '}' : ']', out);
}

void PrintText(FILE* out, const Record& file)
{
	for (const Record::Field& f : file.fields) {
		fprintf(out, "%s%s\n", Label(f.label, 12).c_str(), f.text.c_str());
		if (f.label != "tracks")
			continue;
		for (size_t i = 0; i < file.tracks.size(); i++) {
			std::string heading;
			for (const Record::Field& t : file.tracks[i].fields) {
				if (t.heading)
					heading += (heading.empty() ? "" : ", ") + t.text;
			}
			fprintf(out, "%-11s%s\n", ("track " + std::to_string(i) + ":").c_str(), heading.c_str());
			for (const Record::Field& t : file.tracks[i].fields) {
				if (!t.heading)
					fprintf(out, "  %s%s\n", Label(t.label, 12).c_str(), t.text.c_str());
			}
		}
	}
}

void PrintJson(FILE* out, const Record& file)
{
	auto object = [](const Record& r) {
		Json j = Json::Object();
		for (const Record::Field& f : r.fields)
			j.Set(Key(f.label), f.value);
		return j;
	};
	Json root = Json::Object();
	for (const Record::Field& f : file.fields) {
		if (f.label != "tracks") {
			root.Set(Key(f.label), f.value);
			continue;
		}
		Json tracks = Json::Array();
		for (const Record& t : file.tracks)
			tracks.Push(object(t));
		root.Set("tracks", std::move(tracks));
	}
	root.Write(out, 0);
	fputc('\n', out);
}

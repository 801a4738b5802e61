// The table of option rules, filled where the options are declared.
#include "option_rules.h"

#include <CLI/CLI.hpp>

#include "mediaconv.h"

CLI::Option* OptionRules::Add(CLI::Option* option, unsigned traits, const char* purpose)
{
	fRules.push_back({option, traits, purpose});
	return option;
}

void OptionRules::Check(const Conversion& conversion) const
{
	for (const Rule& rule : fRules) {
		if (rule.option->count() == 0 || (rule.traits & conversion.traits))
			continue;
		throw UsageFailure(rule.option->get_name() + " does not apply to " + conversion.name + ": it " +
		                   rule.purpose);
	}
}

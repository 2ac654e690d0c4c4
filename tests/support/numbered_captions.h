// Checks that a form shows no words of its own: loaded in translator mode, every caption and
// tab text with a letter in it carries the number of the text it came from ("3070* ...").
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "forms/controls.h"
#include "forms/form.h"

namespace quilo::test {

// `data`: names of controls whose captions are data rather than words (a version number).
inline void expectNumberedCaptions(forms::Form& form, const std::set<std::string>& data = {}) {
    for (forms::Control* c : form.controls()) {
        if (data.contains(c->name())) continue;
        std::vector<std::string> texts{c->caption()};
        if (auto* tabs = dynamic_cast<forms::TabControl*>(c))
            for (int i = 0; i < tabs->tabCount(); ++i)
                texts.push_back(tabs->tab(i).caption);
        for (const std::string& t : texts) {
            const bool words = std::any_of(t.begin(), t.end(),
                                           [](unsigned char ch) { return std::isalpha(ch) != 0; });
            if (!words) continue;
            EXPECT_NE(t.find("* "), std::string::npos)
                << form.name() << "." << c->name() << " \"" << t << "\"";
        }
    }
}

}  // namespace quilo::test

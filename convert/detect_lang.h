// Language statistics built from real text (scripts/build_lang_model.py): how likely a decoded
// text is in the languages an encoding is written in.
#pragma once

#include <string_view>

namespace detect {

// The log-likelihood, in nats, of the non-ASCII characters of `text` (each given the one
// before it) in the most likely language that `encoding` serves. Text the statistics have no
// language for gets a flat low figure per character, so it never beats a language that fits.
// `*known` tells whether a language was found for the encoding.
double language_log_likelihood(std::string_view encoding, std::u32string_view text,
                               bool* known = nullptr);

// The same for one language by its code ("fr", "zh_CN", ...); 0 with *known false if absent.
double language_log_likelihood_of(std::string_view language, std::u32string_view text,
                                  bool* known = nullptr);

}  // namespace detect

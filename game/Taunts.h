#pragma once

#include <array>

namespace game {

struct Taunt {
    double score;
    const char16_t* text;
};

// What the characters say when a click brings the score to exactly this many points.
inline constexpr std::array kTaunts{
    Taunt{1, u"お前なんか俺の敵じゃねぇ"},
    Taunt{5, u"ちゃんと目ひらいてる？"},
    Taunt{8, u"やる気ないだろお前"},
    Taunt{12, u"まだまだだね"},
    Taunt{15, u"痛くもかゆくもない"},
    Taunt{20, u"うっ・・・"},
    Taunt{25, u"燃え尽きたぜ"},
};

} // namespace game

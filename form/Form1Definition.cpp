#include "Form1Definition.h"

#include <array>

namespace form {
namespace {

using runtime::ControlDefinition;
using runtime::ControlKind;
using runtime::FontDefinition;
using runtime::kShiftJisCharset;
using runtime::MenuDefinition;
using runtime::MenuEntryDefinition;

constexpr FontDefinition kTextFont{"ＭＳ Ｐゴシック", 12, 400, kShiftJisCharset};
constexpr FontDefinition kInstructionsFont{"ＭＳ Ｐゴシック", 14.25, 400, kShiftJisCharset};
constexpr FontDefinition kTauntFont{"ＭＳ Ｐゴシック", 18, 400, kShiftJisCharset};
// The form's own font, which its menu is drawn in: a Japanese desktop's default for forms.
constexpr FontDefinition kFormFont{"ＭＳ Ｐゴシック", 9, 400, kShiftJisCharset};

// Four blanks after the first full stop and thirteen after the second; the "5" of the top
// score is an ASCII digit among full-width ones.
constexpr const char* kInstructions = "ゲームをはじめると５人の悪キャラクターが飛んできます。"
                                      "    "
                                      "どのキャクラターも１回押すごとに１点入ります。"
                                      "             "
                                      "最高２5点です！みんなすばやいのでがんばって下さい★";

constexpr std::array kGameMenu{
    MenuEntryDefinition{"MenuStart", "はじまり"},
    MenuEntryDefinition{"MenuEnd", "おわり"},
};

constexpr std::array kMenus{
    MenuDefinition{"MenuGame", "ゲーム", kGameMenu},
};

const std::array kControls{
    ControlDefinition{.kind = ControlKind::Multimedia,
                      .name = "MMControl1",
                      .left = 3240,
                      .top = 7080,
                      .width = 3540,
                      .height = 330,
                      .tabIndex = 3},
    ControlDefinition{.kind = ControlKind::TextBox,
                      .name = "Text1",
                      .left = 120,
                      .top = 360,
                      .width = 975,
                      .height = 615,
                      .foreColour = 0x00C000C0,
                      .backColour = 0x00FFFFFF,
                      .font = &kTextFont,
                      .tabIndex = 1,
                      .accessibleName = "得点"},
    ControlDefinition{.kind = ControlKind::Timer, .name = "Timer5"},
    ControlDefinition{.kind = ControlKind::Timer, .name = "Timer4"},
    ControlDefinition{.kind = ControlKind::Timer, .name = "Timer3"},
    ControlDefinition{.kind = ControlKind::Timer, .name = "Timer2"},
    ControlDefinition{.kind = ControlKind::Timer, .name = "Timer1", .interval = 100},
    ControlDefinition{.kind = ControlKind::Image,
                      .name = "Image2",
                      .left = 2760,
                      .top = 2880,
                      .width = 2670,
                      .height = 3585,
                      .picture = ":/form1/title.gif",
                      .accessibleName = "猫のような頭の、立っている人物"},
    ControlDefinition{.kind = ControlKind::Label,
                      .name = "Label2",
                      .left = 720,
                      .top = 1680,
                      .width = 7095,
                      .height = 975,
                      .caption = kInstructions,
                      .foreColour = 0x000000FF,
                      .font = &kInstructionsFont,
                      .tabIndex = 2},
    ControlDefinition{.kind = ControlKind::Label,
                      .name = "Label1",
                      .left = 2400,
                      .top = 240,
                      .width = 4935,
                      .height = 735,
                      .foreColour = 0x00FF0000,
                      .font = &kTauntFont,
                      .tabIndex = 0},
    ControlDefinition{.kind = ControlKind::Image,
                      .name = "Image1",
                      .index = 4,
                      .left = 120,
                      .top = 6240,
                      .width = 2190,
                      .height = 1170,
                      .picture = ":/form1/character4.jpg",
                      .stretch = true,
                      .accessibleName = "黄色い炎に包まれて右へ飛ぶ、赤と緑の衣装のヒーロー"},
    ControlDefinition{.kind = ControlKind::Image,
                      .name = "Image1",
                      .index = 3,
                      .left = 120,
                      .top = 6720,
                      .width = 585,
                      .height = 600,
                      .picture = ":/form1/character3.gif",
                      .stretch = true,
                      .accessibleName = "両手を上げた、灰色と白の猫のような生き物"},
    ControlDefinition{.kind = ControlKind::Image,
                      .name = "Image1",
                      .index = 2,
                      .left = 120,
                      .top = 6240,
                      .width = 1200,
                      .height = 1200,
                      .picture = ":/form1/character2.gif",
                      .stretch = true,
                      .accessibleName = "角笛を吹きながら跳ねる、緑の服ととんがり帽子の小人"},
    ControlDefinition{.kind = ControlKind::Image,
                      .name = "Image1",
                      .index = 1,
                      .left = 120,
                      .top = 5760,
                      .width = 1500,
                      .height = 1515,
                      .picture = ":/form1/character1.jpg",
                      .stretch = true,
                      .accessibleName = "額にＲの文字、黒い覆面をした忍者の顔"},
    ControlDefinition{.kind = ControlKind::Image,
                      .name = "Image1",
                      .index = 0,
                      .left = 120,
                      .top = 6120,
                      .width = 750,
                      .height = 1110,
                      .picture = ":/form1/character0.gif",
                      .stretch = true,
                      .accessibleName = "短い黒髪に黒い襟の若い男の肖像"},
};

const runtime::FormDefinition kForm1{
    .name = "Form1",
    .caption = "Form1",
    .clientWidth = 8370,
    .clientHeight = 6960,
    .picture = ":/form1/background.bmp",
    .menus = kMenus,
    .controls = kControls,
    .font = &kFormFont,
};

} // namespace

const runtime::FormDefinition& form1Definition() {
    return kForm1;
}

} // namespace form

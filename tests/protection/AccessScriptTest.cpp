// The access-limiting script for every switch.
#include "EngineTestSupport.h"

#include "protection/AccessScript.h"

#include <gtest/gtest.h>

using namespace kestrix;

namespace {

const std::string prelude = "function False(){return false};function True(){return true};"
                            "function IsNS(){return navigator.appName==\"Netscape\"};";

// The switches in the order their fragments are written, with the fragments.
struct Fragment
{
    bool ProtectionSettings::*field;
    const char* text;
};
const Fragment fragments[8] = {
    {&ProtectionSettings::DisableRightClicking,
     "document.oncontextmenu=False;if(IsNS()){document.captureEvents(Event.MOUSEDOWN);"
     "document.onmousedown=function(e){if(e.which==2||e.which==3)return false}};"},
    {&ProtectionSettings::DisableSelection,
     "document.onselectstart=False;function nstns(){st=document.getSelection();if(st!=\"\"&&"
     "st!=\" \")document.location=document.location;setTimeout(\"nstns()\",10)};"
     "if(IsNS()){nstns()};"},
    {&ProtectionSettings::DisableDragAndDrop, "document.ondragstart=False;"},
    {&ProtectionSettings::DisableStatusBar,
     "function dsb(){window.status=\"\";setTimeout(\"dsb()\",5)}dsb();"},
    {&ProtectionSettings::HideScriptErrors, "window.onerror=True;"},
    {&ProtectionSettings::BreakOutOfFrames,
     "if(top.location!=location){top.location.href=document.location.href};"},
    {&ProtectionSettings::DisablePrinting,
     "window.onbeforeprint=function(){for(i=document.all.length;i--;)document.all[i].style."
     "visibility=\"hidden\"};window.onafterprint=function(){setTimeout(\"window.location."
     "reload()\",500)};"},
    {&ProtectionSettings::DisableOfflineViewing,
     "if(window.location.href.indexOf(\"file://\")==0)window.location=\"about:Access_Denied\";"},
};

std::string Script(const std::string& body)
{
    return "<script language=\"JavaScript\">" + prelude + body + "</script>";
}

TEST(AccessScript, NoSwitchGivesNothing)
{
    ProtectionSettings s;
    // Optimisation switches and the level do not count.
    s.OptimizeCode = s.RemoveEndP = s.MergeWhitespace = true;
    s.StrengthLevel = 4;
    EXPECT_EQ(BuildAccessScript(s), "");
}

TEST(AccessScript, EachSwitchAlone)
{
    for (const Fragment& f : fragments) {
        ProtectionSettings s;
        s.*f.field = true;
        EXPECT_EQ(BuildAccessScript(s), Script(f.text)) << f.text;
    }
}

TEST(AccessScript, AllEightInFixedOrderOnce)
{
    ProtectionSettings s;
    std::string body;
    for (const Fragment& f : fragments) {
        s.*f.field = true;
        body += f.text;
    }
    const std::string script = BuildAccessScript(s);
    EXPECT_EQ(script, Script(body));
    EXPECT_EQ(enginetest::Count(script, "function False()"), 1u);
    EXPECT_EQ(script.find('\n'), std::string::npos);
}

TEST(AccessScript, PairsKeepTheFragmentOrderNotTheClickOrder)
{
    ProtectionSettings s;
    s.DisableOfflineViewing = true;
    s.DisableRightClicking = true;
    EXPECT_EQ(BuildAccessScript(s), Script(std::string(fragments[0].text) + fragments[7].text));
}

} // namespace

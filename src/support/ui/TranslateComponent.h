// Translation of windows and their controls with the application's table:
// each component's designed texts are looked up in the section named after
// its window class.
#pragma once

#include <string>

class QObject;

namespace kestrix {

// The translation section of a component: the class name (without its
// namespace) of the nearest
// window class among the component and its parents (menus, docks and tool
// bars are parts of their window), "Application" when there is none.
std::string TranslationSection(const QObject* component);

// Translates a component's designed texts (window titles, captions, tool
// and status tips, combo box items keeping the selection, tab captions,
// column titles, action and menu texts) with the section of
// TranslationSection, then every child it owns, in creation order.
void TranslateComponent(QObject* component);

// Translates the application title and every window that has no parent;
// runs once, later calls do nothing.
void TranslateApplication();

} // namespace kestrix

#include "toolkit/builder.h"

#include "platform/log.h"
#include "toolkit/attributes.h"
#include "toolkit/controls.h"
#include "toolkit/manager.h"

namespace skin {
namespace {

// A skin with more controls than this is not a skin of ours.
constexpr int kMaxControls = 4000;

Control* Build(const MarkupNode& node, IControlFactory* factory, int* budget) {
  if (--*budget < 0) return nullptr;
  Control* control = CreateBuiltinControl(node.name);
  if (!control && factory) control = factory->CreateControl(node.name.c_str());
  if (!control) {
    OV_LOGS(L"skin: unknown element <%s> skipped", node.name.c_str());
    return nullptr;
  }
  for (const auto& [name, value] : node.attributes) control->SetAttribute(name, value);
  if (auto* combo = static_cast<Combo*>(control->GetInterface(L"Combo"))) {
    for (const MarkupNode& item : node.children)
      if (const std::wstring* text = item.Attribute(L"text")) combo->AddItem(*text);
    return control;
  }
  auto* container = static_cast<Container*>(control->GetInterface(L"Container"));
  if (!container) return control;  // children of a plain control are ignored
  for (const MarkupNode& child : node.children)
    if (Control* built = Build(child, factory, budget)) container->Add(built);
  return control;
}

}  // namespace

Control* CreateBuiltinControl(std::wstring_view className) {
  struct Entry {
    const wchar_t* name;
    Control* (*create)();
  };
  static const Entry kClasses[] = {
      {L"Control", [] { return new Control; }},
      {L"Container", []() -> Control* { return new Container; }},
      {L"VerticalLayout", []() -> Control* { return new VerticalLayout; }},
      {L"HorizontalLayout", []() -> Control* { return new HorizontalLayout; }},
      {L"TabLayout", []() -> Control* { return new TabLayout; }},
      {L"Label", []() -> Control* { return new Label; }},
      {L"Text", []() -> Control* { return new Text; }},
      {L"Button", []() -> Control* { return new Button; }},
      {L"Option", []() -> Control* { return new Option; }},
      {L"CheckBox", []() -> Control* { return new CheckBox; }},
      {L"Edit", []() -> Control* { return new Edit; }},
      {L"Progress", []() -> Control* { return new Progress; }},
      {L"Combo", []() -> Control* { return new Combo; }},
  };
  for (const Entry& e : kClasses)
    if (EqualsNoCase(className, e.name)) return e.create();
  return nullptr;
}

Control* BuildControls(const MarkupNode& window, PaintManager& manager, IControlFactory* factory) {
  for (const auto& [name, value] : window.attributes) manager.SetWindowAttribute(name, value);
  int budget = kMaxControls;
  Control* root = nullptr;
  for (const MarkupNode& child : window.children) {
    if (EqualsNoCase(child.name, L"Font")) {
      auto get = [&](const wchar_t* key) -> std::wstring {
        const std::wstring* v = child.Attribute(key);
        return v ? *v : std::wstring();
      };
      const std::wstring id = get(L"id");
      manager.AddFont(id.empty() ? 0 : ParseInt(id), get(L"name"), ParseInt(get(L"size")), ParseBool(get(L"bold")),
                      ParseBool(get(L"underline")), ParseBool(get(L"italic")), ParseBool(get(L"default")));
      continue;
    }
    if (root) {
      OV_LOGS(L"skin: second root control <%s> ignored", child.name.c_str());
      continue;
    }
    root = Build(child, factory, &budget);
  }
  return root;
}

}  // namespace skin

#include "generation/rule_text.h"

#include <cstdarg>
#include <cstdio>

namespace tarnaxel {
namespace {

// One formatted piece, cut to 255 characters.
std::string piece(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string piece(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string arg_text(Arg arg) {
  switch (arg.kind) {
    case Arg::kNumber: return piece("%d", arg.number);
    case Arg::kAny: return "?";
    case Arg::kRingClose: return "@";
    case Arg::kNone: break;
  }
  return "";
}

// The state a child is handed: q<n> for an atom, p<k> for a ring closure.
std::string child_state(const Element& e) {
  return e.state >= 0 ? piece("q%d", e.state) : piece("p%d", -e.state);
}

}  // namespace

void RuleText::leaf(const Element& e) {
  lines_.push_back(piece("q%d(%s)\t\t->\t%s\n", e.state, e.label, e.label));
  if (starts(e.state)) lines_.push_back(piece("q0(%s)\t\t->\t%s\n", e.label, e.label));
}

void RuleText::single(const Element& parent, Arg arg, char child_kind, int child_number) {
  if (arg.kind == Arg::kNone) return;
  std::string a = arg_text(arg);
  std::string body = piece("(%s(%s))\t->\t%s(%c%d(%s))\n", parent.label, a.c_str(), parent.label, child_kind,
                           child_number, a.c_str());
  lines_.push_back(piece("q%d", parent.state) + body);
  if (starts(parent.state)) lines_.push_back("q0" + body);
}

void RuleText::link(const Element& parent, const Element& child, Arg arg) {
  single(parent, arg, 'q', child.state);
}

void RuleText::ring(const Element& parent, const Element& child, Arg arg) {
  single(parent, arg, 'p', -child.state);
}

void RuleText::branch(const Element& parent, const std::vector<Child>& children) {
  std::vector<const Child*> shown;
  for (const Child& c : children)
    if (c.arg.kind != Arg::kNone) shown.push_back(&c);
  if (shown.empty()) return;
  std::string args;
  std::string states;
  for (size_t i = 0; i < shown.size(); ++i) {
    const char* separator = i + 1 < shown.size() ? "," : "";
    std::string a = arg_text(shown[i]->arg);
    args += a + separator;
    states += child_state(*shown[i]->element) + "(" + a + ")" + separator;
  }
  std::string body = args + piece("))\t->\t%s(", parent.label) + states + ")\n";
  if (parent.state >= 0) {
    lines_.push_back(piece("q%d(%s(", parent.state, parent.label) + body);
    if (starts(parent.state)) lines_.push_back(piece("q0(%s(", parent.label) + body);
  } else {
    lines_.push_back(piece("p%d(%s(", -parent.state, parent.label) + body);
  }
}

}  // namespace tarnaxel

// Costing: the standard actions CostInitialize, FileCost and CostFinalize, the
// feature and component states they set and that the state functions read and
// change, the target folders and file paths they resolve, the products the
// machine has installed (MsiGetComponentPathA), and MsiGetMode.
//
// CostInitialize takes a snapshot of the Directory, Component, Feature,
// FeatureComponents and File tables (any may be missing); rows added later are
// not seen. CostFinalize resolves the folders below TARGETDIR into directory
// properties, evaluates component conditions, reads the installed states,
// applies the request properties (ADDLOCAL, REMOVE, ...) or the Condition
// table, gives every file its target path and sets the feature and component
// actions. It may run any number of times; a folder property set meanwhile wins
// over the folder's place in the tree.
#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <msidefs.h>

#include "winsim/control.h"
#include "winsim/msi/session.h"

namespace winsim {
namespace {

// Attribute bits of the Feature, Component and File tables.
constexpr int kFeatureFavorSource = 1;
constexpr int kFeatureFollowParent = 2;
constexpr int kFeatureFavorAdvertise = 4;
constexpr int kFeatureDisallowAdvertise = 8;
constexpr int kComponentSourceOnly = 1;
constexpr int kComponentOptional = 2;
constexpr int kFilePatchAdded = 4096;
constexpr int kFileNoncompressed = 8192;
constexpr int kFileCompressed = 16384;
// Word-count bits of the summary information: where the source files are.
constexpr int kSourceShortNames = 1;
constexpr int kSourceCompressed = 2;

// ---- products installed on the machine ------------------------------------

struct InstalledComponent {
  INSTALLSTATE state;
  std::string path;
};

struct InstalledProducts {
  // Keyed by (product code, component code), both upper-case.
  std::map<std::pair<std::string, std::string>, InstalledComponent> components;
  // Keyed by (product code upper-case, feature name).
  std::map<std::pair<std::string, std::string>, INSTALLSTATE> features;
};

InstalledProducts& Installed() {
  static InstalledProducts installed;
  return installed;
}

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool EqualsNoCaseAscii(const std::string& a, const char* b) { return UpperAscii(a) == b; }

// A GUID in its registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
bool IsGuid(const char* text) {
  static const char kForm[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  std::size_t i = 0;
  for (; kForm[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (kForm[i] == 'X' ? !std::isxdigit(c) : c != static_cast<unsigned char>(kForm[i]))
      return false;
  }
  return text[i] == '\0';
}

// ---- folder paths ----------------------------------------------------------

bool EndsWithBackslash(const std::u16string& path) { return !path.empty() && path.back() == u'\\'; }

// The target name of a DefaultDir value ("target:source", each "short|long"):
// the long target name; "." is the parent folder itself.
std::string TargetName(const std::string& defaultDir) {
  std::string target = defaultDir.substr(0, defaultDir.find(':'));
  std::size_t bar = target.find('|');
  if (bar == std::string::npos) return target == "." ? std::string() : target;
  return target.substr(bar + 1);
}

// A folder path as the engine stores it: runs of backslashes made one (a
// leading "\\" of a network path stays), blanks at either end of a segment
// dropped, and a backslash at the end.
std::u16string NormalizeFolder(const std::u16string& in) {
  std::u16string out;
  std::size_t i = 0;
  while (i < in.size()) {
    char16_t c = in[i];
    if (c == u' ') {
      std::size_t end = i;
      while (end < in.size() && in[end] == u' ') ++end;
      bool edge = out.empty() || out.back() == u'\\' || end == in.size() || in[end] == u'\\';
      if (!edge) out.append(end - i, u' ');
      i = end;
      continue;
    }
    if (c == u'\\' && out.size() > 1 && out.back() == u'\\') {
      ++i;
      continue;
    }
    out.push_back(c);
    ++i;
  }
  if (!out.empty() && !EndsWithBackslash(out)) out.push_back(u'\\');
  return out;
}

// parent + name as a folder: backslashes between and after, where missing.
std::string JoinFolder(const std::string& parent, const std::string& name) {
  std::u16string path = WidenAcp(parent);
  if (!path.empty() && !EndsWithBackslash(path)) path.push_back(u'\\');
  path += WidenAcp(name);
  if (!path.empty() && !EndsWithBackslash(path)) path.push_back(u'\\');
  return NarrowAcp(path);
}

// folder + file name.
std::string JoinFile(const std::string& folder, const std::string& name) {
  std::u16string path = WidenAcp(folder);
  if (!path.empty() && !EndsWithBackslash(path)) path.push_back(u'\\');
  return NarrowAcp(path + WidenAcp(name));
}

std::size_t IndexOf(const Costing& costing, const CostFolder* folder) {
  return static_cast<std::size_t>(folder - costing.folders.data());
}

// Resolves a folder and every folder below it, parents first: a folder whose
// property is set takes that path, any other its parent's path and its name.
// TARGETDIR takes the TARGETDIR property, else ROOTDRIVE. Each folder's
// property is set to its path.
void ResolveTree(Session& session, std::size_t root) {
  std::vector<CostFolder>& folders = session.costing.folders;
  std::multimap<std::string, std::size_t> children;
  for (std::size_t i = 0; i < folders.size(); ++i)
    if (!folders[i].parent.empty() && folders[i].parent != folders[i].key)
      children.emplace(folders[i].parent, i);

  std::vector<bool> visited(folders.size(), false);
  std::vector<std::size_t> pending{root};
  while (!pending.empty()) {
    std::size_t index = pending.back();
    pending.pop_back();
    if (visited[index]) continue;
    visited[index] = true;
    CostFolder& folder = folders[index];
    std::string path;
    if (folder.key == "TARGETDIR") {
      path = session.Property("TARGETDIR");
      if (path.empty()) path = session.Property("ROOTDRIVE");
    } else {
      path = session.Property(folder.key);
      if (path.empty()) {
        const CostFolder* parent = nullptr;
        if (!folder.parent.empty() && folder.parent != folder.key)
          parent = session.FindFolder(folder.parent);
        path = JoinFolder(parent && parent->resolved ? parent->path : std::string(), folder.name);
      }
    }
    folder.path = NarrowAcp(NormalizeFolder(WidenAcp(path)));
    folder.resolved = true;
    session.SetProperty(folder.key, folder.path);

    // Children are visited in table order.
    auto range = children.equal_range(folder.key);
    std::vector<std::size_t> below;
    for (auto it = range.first; it != range.second; ++it) below.push_back(it->second);
    for (auto it = below.rbegin(); it != below.rend(); ++it) pending.push_back(*it);
  }
}

// The target folder of a directory key, resolving its tree on first use; null
// when costing has not loaded such a folder.
const CostFolder* TargetFolder(Session& session, const std::string& key) {
  CostFolder* folder = session.FindFolder(key);
  if (!folder) return nullptr;
  if (!folder->resolved) {
    // The top of the folder's chain of parents.
    CostFolder* top = folder;
    for (std::size_t steps = 0; steps < session.costing.folders.size(); ++steps) {
      if (top->parent.empty() || top->parent == top->key) break;
      CostFolder* parent = session.FindFolder(top->parent);
      if (!parent) break;
      top = parent;
    }
    ResolveTree(session, IndexOf(session.costing, top));
  }
  return folder;
}

// ---- loading the tables ------------------------------------------------------

std::vector<std::vector<Field>> Rows(Session& session, const std::string& sql) {
  std::vector<std::vector<Field>> rows;
  if (!session.database || QueryRows(*session.database, sql, &rows) != ERROR_SUCCESS) rows.clear();
  return rows;
}

void LoadFolders(Session& session) {
  for (const auto& row :
       Rows(session, "SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`")) {
    CostFolder folder;
    folder.key = row[0].AsText();
    folder.parent = row[1].AsText();
    folder.name = TargetName(row[2].AsText());
    session.costing.folders.push_back(std::move(folder));
  }
}

void LoadComponents(Session& session) {
  for (const auto& row : Rows(session,
                              "SELECT `Component`, `ComponentId`, `Directory_`, `Attributes`, "
                              "`Condition` FROM `Component`")) {
    CostComponent component;
    component.name = row[0].AsText();
    component.id = row[1].AsText();
    component.directory = row[2].AsText();
    component.attributes = row[3].AsInteger();
    component.condition = row[4].AsText();
    session.costing.components.push_back(std::move(component));
  }
}

void LoadFeatures(Session& session) {
  Costing& costing = session.costing;
  for (const auto& row : Rows(session,
                              "SELECT `Feature`, `Feature_Parent`, `Level`, `Attributes` "
                              "FROM `Feature`")) {
    CostFeature feature;
    feature.name = row[0].AsText();
    feature.parent = row[1].AsText();
    feature.level = row[2].AsInteger();
    feature.attributes = row[3].AsInteger();
    costing.features.push_back(std::move(feature));
  }
  for (const auto& row :
       Rows(session, "SELECT `Feature_`, `Component_` FROM `FeatureComponents`")) {
    CostFeature* feature = session.FindFeature(row[0].AsText());
    CostComponent* component = session.FindComponent(row[1].AsText());
    if (feature && component)
      feature->components.push_back(
          static_cast<std::size_t>(component - costing.components.data()));
  }
}

int SummaryWordCount(Session& session) {
  if (!session.database) return 0;
  auto it = session.database->summary.find(PID_WORDCOUNT);
  return it == session.database->summary.end() ? 0 : it->second.integer;
}

void LoadFiles(Session& session) {
  bool attributes = true;
  auto rows =
      Rows(session, "SELECT `File`, `Component_`, `FileName`, `Attributes` FROM `File`");
  if (rows.empty()) {
    rows = Rows(session, "SELECT `File`, `Component_`, `FileName` FROM `File`");
    attributes = false;
  }
  bool packageCompressed = (SummaryWordCount(session) & kSourceCompressed) != 0;
  for (const auto& row : rows) {
    CostFile file;
    file.key = row[0].AsText();
    file.component = row[1].AsText();
    std::string name = row[2].AsText();
    std::size_t bar = name.find('|');
    file.name = bar == std::string::npos ? name : name.substr(bar + 1);
    file.compressed = packageCompressed;
    int bits = attributes ? row[3].AsInteger() : MSI_NULL_INTEGER;
    if (bits != MSI_NULL_INTEGER) {
      if (bits & (kFileCompressed | kFilePatchAdded))
        file.compressed = true;
      else if (bits & kFileNoncompressed)
        file.compressed = false;
    }
    session.costing.files.push_back(std::move(file));
  }
}

// ---- feature and component states -----------------------------------------

bool IsSelected(const CostFeature& feature, int level) {
  return feature.level > 0 && feature.level <= level;
}

// A request property (ADDLOCAL, REMOVE, ...): "ALL" or a comma-separated list
// of feature names. False when the property is not set.
bool ApplyRequestProperty(Session& session, const char* property, INSTALLSTATE state) {
  std::string value = session.Property(property);
  if (value.empty()) return false;
  bool all = EqualsNoCaseAscii(value, "ALL");
  std::vector<std::string> names;
  for (std::size_t start = 0;;) {
    std::size_t comma = value.find(',', start);
    names.push_back(value.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  const std::string name = property;
  for (CostFeature& feature : session.costing.features) {
    if (feature.level <= 0) continue;
    INSTALLSTATE target = state;
    if (name == "REINSTALL")
      target = feature.installed == INSTALLSTATE_ABSENT ? INSTALLSTATE_UNKNOWN : feature.installed;
    else if (name == "REMOVE")
      target =
          feature.installed == INSTALLSTATE_ABSENT ? INSTALLSTATE_UNKNOWN : INSTALLSTATE_ABSENT;
    bool named = all;
    for (const std::string& n : names) named = named || n == feature.name;
    if (named) feature.request = target;
  }
  return true;
}

// Later properties override earlier ones. True when any was set; the session
// then counts as preselected from here on.
bool ApplyRequestProperties(Session& session) {
  bool any = false;
  any |= ApplyRequestProperty(session, "ADDLOCAL", INSTALLSTATE_LOCAL);
  any |= ApplyRequestProperty(session, "REMOVE", INSTALLSTATE_ABSENT);
  any |= ApplyRequestProperty(session, "ADDSOURCE", INSTALLSTATE_SOURCE);
  any |= ApplyRequestProperty(session, "REINSTALL", INSTALLSTATE_UNKNOWN);
  any |= ApplyRequestProperty(session, "ADVERTISE", INSTALLSTATE_ADVERTISED);
  if (any) session.SetProperty("Preselected", "1");
  return any;
}

// The Condition table: a true condition gives its feature that install level.
void ApplyFeatureConditions(Session& session) {
  for (const auto& row :
       Rows(session, "SELECT `Feature_`, `Level`, `Condition` FROM `Condition`")) {
    CostFeature* feature = session.FindFeature(row[0].AsText());
    if (!feature) continue;
    std::string condition = row[2].AsText();
    if (EvaluateCondition(condition.c_str(), session) == MSICONDITION_TRUE)
      feature->level = row[1].AsInteger();
  }
}

void ReadInstalledStates(Session& session) {
  const std::string product = UpperAscii(session.Property("ProductCode"));
  const InstalledProducts& installed = Installed();
  for (CostComponent& component : session.costing.components) {
    if (component.id.empty()) continue;  // nothing to look up: stays unknown
    auto it = installed.components.find({product, UpperAscii(component.id)});
    component.installed = it == installed.components.end() ? INSTALLSTATE_ABSENT : it->second.state;
  }
  for (CostFeature& feature : session.costing.features) {
    auto it = installed.features.find({product, feature.name});
    feature.installed = it == installed.features.end() ? INSTALLSTATE_ABSENT : it->second;
  }
}

// Gives every file of an enabled component its target path.
void TargetFiles(Session& session) {
  for (CostComponent& component : session.costing.components) component.forceLocal = false;
  for (CostFile& file : session.costing.files) {
    CostComponent* component = session.FindComponent(file.component);
    if (!component || !component->enabled) continue;
    if (file.compressed) component->forceLocal = true;
    const CostFolder* folder = TargetFolder(session, component->directory);
    file.target = JoinFile(folder ? folder->path : std::string(), file.name);
    file.hasTarget = true;
  }
}

// The features directly below each feature, by position in `features`: built
// once per walk, so that a walk over the whole tree stays linear. A feature
// named as its own parent is not its own child.
using ChildLists = std::vector<std::vector<std::size_t>>;

ChildLists ChildrenOf(const Costing& costing) {
  std::unordered_map<std::string, std::size_t> first;
  for (std::size_t i = 0; i < costing.features.size(); ++i)
    first.emplace(costing.features[i].name, i);
  ChildLists children(costing.features.size());
  for (std::size_t i = 0; i < costing.features.size(); ++i) {
    const CostFeature& feature = costing.features[i];
    if (feature.parent.empty() || feature.parent == feature.name) continue;
    // The first feature of the parent's name has the child, as FindFeature
    // answers with it.
    auto it = first.find(feature.parent);
    if (it != first.end()) children[it->second].push_back(i);
  }
  return children;
}

// Children of a feature that is not selected are not installed either.
void DisableChildren(Costing& costing, const ChildLists& children, std::size_t index, int level,
                     std::size_t depth) {
  if (depth > costing.features.size()) return;
  for (std::size_t child : children[index]) {
    const CostFeature& feature = costing.features[index];
    if (!IsSelected(feature, level)) {
      costing.features[child].level = feature.level;
      costing.features[child].request = INSTALLSTATE_UNKNOWN;
    }
    DisableChildren(costing, children, child, level, depth + 1);
  }
}

// Children marked "follow parent" take their parent's request.
void FollowParent(Costing& costing, const ChildLists& children, std::size_t index,
                  std::size_t depth) {
  if (depth > costing.features.size()) return;
  for (std::size_t child : children[index]) {
    if (costing.features[child].attributes & kFeatureFollowParent)
      costing.features[child].request = costing.features[index].request;
    FollowParent(costing, children, child, depth + 1);
  }
}

void SetBoth(CostComponent& component, INSTALLSTATE state) {
  component.action = state;
  component.request = state;
}

// The feature requests for this session, then the component actions that
// follow from them.
void SetFeatureStates(Session& session) {
  Costing& costing = session.costing;
  const int level = session.PropertyInt("INSTALLLEVEL", 1);

  if (session.PropertyInt("Preselected", 0)) {
    // Features no request property named keep what is installed.
    for (CostFeature& feature : costing.features)
      if (IsSelected(feature, level) && feature.request == INSTALLSTATE_UNKNOWN)
        feature.request =
            feature.installed == INSTALLSTATE_ABSENT ? INSTALLSTATE_UNKNOWN : feature.installed;
  } else if (!session.PropertyInt("Installed", 0)) {
    // A first installation: every selected feature, the way it favours.
    for (CostFeature& feature : costing.features) {
      if (!IsSelected(feature, level) || feature.request != INSTALLSTATE_UNKNOWN) continue;
      if (feature.attributes & kFeatureFavorSource)
        feature.request = INSTALLSTATE_SOURCE;
      else if (feature.attributes & kFeatureFavorAdvertise)
        feature.request = INSTALLSTATE_ADVERTISED;
      else
        feature.request = INSTALLSTATE_LOCAL;
    }
  }
  const ChildLists children = ChildrenOf(costing);
  for (std::size_t i = 0; i < costing.features.size(); ++i) {
    if (!costing.features[i].parent.empty()) continue;
    DisableChildren(costing, children, i, level, 0);
    FollowParent(costing, children, i, 0);
  }

  struct Wanted {
    bool local = false, source = false, advertised = false, absent = false;
  };
  std::vector<Wanted> wanted(costing.components.size());
  for (CostFeature& feature : costing.features) {
    // A feature whose files come from a cabinet cannot run from source.
    for (std::size_t c : feature.components)
      if (costing.components[c].forceLocal && feature.request == INSTALLSTATE_SOURCE) {
        feature.request = INSTALLSTATE_LOCAL;
        break;
      }
    for (std::size_t c : feature.components) {
      Wanted& w = wanted[c];
      switch (feature.request) {
        case INSTALLSTATE_ABSENT: w.absent = true; break;
        case INSTALLSTATE_ADVERTISED: w.advertised = true; break;
        case INSTALLSTATE_SOURCE: w.source = true; break;
        case INSTALLSTATE_LOCAL: w.local = true; break;
        case INSTALLSTATE_DEFAULT:
          if (feature.attributes & kFeatureFavorAdvertise)
            w.advertised = true;
          else if (feature.attributes & kFeatureFavorSource)
            w.source = true;
          else
            w.local = true;
          break;
        case INSTALLSTATE_UNKNOWN:
          if (feature.installed == INSTALLSTATE_ADVERTISED) w.advertised = true;
          if (feature.installed == INSTALLSTATE_SOURCE) w.source = true;
          if (feature.installed == INSTALLSTATE_LOCAL) w.local = true;
          break;
        default: break;
      }
    }
  }

  for (std::size_t i = 0; i < costing.components.size(); ++i) {
    CostComponent& component = costing.components[i];
    const Wanted& w = wanted[i];
    if (!(component.attributes & kComponentOptional) && (w.local || w.source)) {
      bool source = (component.attributes & kComponentSourceOnly) && !component.forceLocal;
      SetBoth(component, source ? INSTALLSTATE_SOURCE : INSTALLSTATE_LOCAL);
    } else if (w.local) {
      SetBoth(component, INSTALLSTATE_LOCAL);
    } else if (w.source) {
      SetBoth(component, INSTALLSTATE_SOURCE);
    } else if (w.advertised) {
      SetBoth(component, INSTALLSTATE_ADVERTISED);
    } else if (w.absent && !component.id.empty()) {
      SetBoth(component, INSTALLSTATE_ABSENT);
    }
    // A component nobody asks for keeps its action.
    if (component.request == INSTALLSTATE_DEFAULT) SetBoth(component, INSTALLSTATE_LOCAL);
    if (component.request == INSTALLSTATE_SOURCE && component.installed == INSTALLSTATE_SOURCE &&
        w.source)
      SetBoth(component, INSTALLSTATE_UNKNOWN);
  }
}

// After a feature's request changed: its enabled components follow, unless
// another feature that installs them wants them local or from source.
void UpdateComponents(Costing& costing, const CostFeature& feature) {
  INSTALLSTATE next =
      feature.request == INSTALLSTATE_ABSENT ? INSTALLSTATE_UNKNOWN : feature.request;
  for (std::size_t c : feature.components) {
    CostComponent& component = costing.components[c];
    if (!component.enabled) continue;
    SetBoth(component, next);
    if (next == INSTALLSTATE_LOCAL) continue;
    for (const CostFeature& other : costing.features) {
      if (other.request != INSTALLSTATE_LOCAL && other.request != INSTALLSTATE_SOURCE) continue;
      bool installs = false;
      for (std::size_t oc : other.components) installs = installs || oc == c;
      if (!installs) continue;
      if (component.attributes & kComponentOptional)
        SetBoth(component, (other.attributes & kFeatureFavorSource) ? INSTALLSTATE_SOURCE
                                                                     : INSTALLSTATE_LOCAL);
      else if (component.attributes & kComponentSourceOnly)
        SetBoth(component, INSTALLSTATE_SOURCE);
      else
        SetBoth(component, INSTALLSTATE_LOCAL);
    }
  }
}

// MsiSetFeatureStateA on a loaded feature: the feature, its components and
// every feature below it.
void SetSubtreeRequest(Costing& costing, const ChildLists& children, std::size_t index,
                       INSTALLSTATE state, std::size_t depth) {
  CostFeature& feature = costing.features[index];
  // A feature that may not be advertised is switched off instead.
  INSTALLSTATE own = state;
  if (own == INSTALLSTATE_ADVERTISED && (feature.attributes & kFeatureDisallowAdvertise))
    own = INSTALLSTATE_ABSENT;
  feature.request = own;
  UpdateComponents(costing, feature);
  if (depth > costing.features.size()) return;
  for (std::size_t child : children[index])
    SetSubtreeRequest(costing, children, child, own, depth + 1);
}

UINT SetFeatureRequest(Costing& costing, const std::string& name, INSTALLSTATE state) {
  std::size_t index = costing.features.size();
  for (std::size_t i = 0; i < costing.features.size(); ++i)
    if (costing.features[i].name == name) index = i;
  if (index == costing.features.size()) return ERROR_UNKNOWN_FEATURE;
  SetSubtreeRequest(costing, ChildrenOf(costing), index, state, 0);
  return ERROR_SUCCESS;
}

// ---- the actions ---------------------------------------------------------------

UINT CostInitialize(Session& session) {
  session.SetProperty("CostingComplete", "0");
  if (session.Property("ROOTDRIVE").empty()) session.SetProperty("ROOTDRIVE", "C:\\");
  Costing& costing = session.costing;
  // Each table is read once; one that gave no rows is read again next time.
  if (costing.folders.empty()) LoadFolders(session);
  if (costing.components.empty()) LoadComponents(session);
  if (costing.features.empty()) LoadFeatures(session);
  if (costing.files.empty()) LoadFiles(session);
  costing.initialized = true;
  return ERROR_SUCCESS;
}

UINT CostFinalize(Session& session) {
  Costing& costing = session.costing;
  if (CostFolder* root = session.FindFolder("TARGETDIR"))
    ResolveTree(session, IndexOf(costing, root));
  for (CostComponent& component : costing.components)
    component.enabled =
        EvaluateCondition(component.condition.c_str(), session) != MSICONDITION_FALSE;
  ReadInstalledStates(session);
  if (!ApplyRequestProperties(session)) ApplyFeatureConditions(session);
  TargetFiles(session);
  session.SetProperty("CostingComplete", "1");
  if (session.Property("INSTALLLEVEL").empty()) session.SetProperty("INSTALLLEVEL", "1");
  SetFeatureStates(session);
  session.SetProperty("OutOfDiskSpace", "0");
  session.SetProperty("OutOfNoRbDiskSpace", "0");
  return ERROR_SUCCESS;
}

}  // namespace

// ---- the session's costing view ----------------------------------------------

int Session::PropertyInt(const std::string& name, int fallback) {
  std::string text = Property(name);
  if (text.empty()) return fallback;
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

CostFeature* Session::FindFeature(const std::string& name) {
  std::unordered_map<std::string, std::size_t>& index = costing.featureIndex;
  if (index.size() != costing.features.size()) {
    index.clear();
    // The first feature of a name answers, as a walk from the start would.
    for (std::size_t i = 0; i < costing.features.size(); ++i)
      index.emplace(costing.features[i].name, i);
    if (index.size() != costing.features.size()) {
      for (CostFeature& feature : costing.features)
        if (feature.name == name) return &feature;
      return nullptr;
    }
  }
  auto it = index.find(name);
  return it == index.end() ? nullptr : &costing.features[it->second];
}

CostComponent* Session::FindComponent(const std::string& name) {
  for (CostComponent& component : costing.components)
    if (component.name == name) return &component;
  return nullptr;
}

CostFolder* Session::FindFolder(const std::string& key) {
  for (CostFolder& folder : costing.folders)
    if (folder.key == key) return &folder;
  return nullptr;
}

std::string Session::FileKeyPath(const std::string& fileKey) {
  for (const CostFile& file : costing.files)
    if (file.key == fileKey) return file.hasTarget ? file.target : std::string();
  return std::string();
}

std::string Session::ComponentDirectory(const std::string& name) {
  const CostComponent* component = FindComponent(name);
  if (!component) return std::string();
  const CostFolder* folder = TargetFolder(*this, component->directory);
  return folder ? folder->path : std::string();
}

bool Session::FeatureState(const std::string& name, INSTALLSTATE* installed,
                           INSTALLSTATE* action) {
  const CostFeature* feature = FindFeature(name);
  if (!feature) return false;
  if (installed) *installed = feature->installed;
  if (action) *action = feature->request;
  return true;
}

bool Session::ComponentState(const std::string& name, INSTALLSTATE* installed,
                             INSTALLSTATE* action) {
  const CostComponent* component = FindComponent(name);
  if (!component) return false;
  // A component whose condition is false reports nothing.
  if (installed) *installed = component->enabled ? component->installed : INSTALLSTATE_UNKNOWN;
  if (action) *action = component->enabled ? component->action : INSTALLSTATE_UNKNOWN;
  return true;
}

bool RunCostingAction(Session& session, const std::string& action, UINT* result) {
  if (action == "CostInitialize")
    *result = CostInitialize(session);
  else if (action == "FileCost")
    *result = ERROR_SUCCESS;
  else if (action == "CostFinalize")
    *result = CostFinalize(session);
  else
    return false;
  return true;
}

// ---- control -----------------------------------------------------------------

void SetInstalledComponent(const std::string& productCode, const std::string& componentCode,
                           INSTALLSTATE state, const std::string& path) {
  Installed().components[{UpperAscii(productCode), UpperAscii(componentCode)}] = {state, path};
}

void SetInstalledFeature(const std::string& productCode, const std::string& feature,
                         INSTALLSTATE state) {
  Installed().features[{UpperAscii(productCode), feature}] = state;
}

bool ProductRegistered(const std::string& productCode) {
  const std::string code = UpperAscii(productCode);
  for (const auto& entry : Installed().components)
    if (entry.first.first == code) return true;
  for (const auto& entry : Installed().features)
    if (entry.first.first == code) return true;
  return false;
}

void ResetInstalledProducts() {
  Installed().components.clear();
  Installed().features.clear();
}

}  // namespace winsim

// ---- the API -------------------------------------------------------------------

UINT WINAPI MsiGetFeatureStateA(MSIHANDLE install, LPCSTR feature, INSTALLSTATE* installed,
                                INSTALLSTATE* action) {
  if (!feature) return ERROR_UNKNOWN_FEATURE;
  auto session = winsim::GetSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  return session->FeatureState(feature, installed, action) ? ERROR_SUCCESS
                                                           : ERROR_UNKNOWN_FEATURE;
}

UINT WINAPI MsiSetFeatureStateA(MSIHANDLE install, LPCSTR feature, INSTALLSTATE state) {
  if (!feature) return ERROR_UNKNOWN_FEATURE;
  auto session = winsim::GetSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  return winsim::SetFeatureRequest(session->costing, feature, state);
}

UINT WINAPI MsiGetComponentStateA(MSIHANDLE install, LPCSTR component, INSTALLSTATE* installed,
                                  INSTALLSTATE* action) {
  if (!component) return ERROR_UNKNOWN_COMPONENT;
  auto session = winsim::GetSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  return session->ComponentState(component, installed, action) ? ERROR_SUCCESS
                                                               : ERROR_UNKNOWN_COMPONENT;
}

UINT WINAPI MsiSetComponentStateA(MSIHANDLE install, LPCSTR component, INSTALLSTATE state) {
  if (!component) return ERROR_UNKNOWN_COMPONENT;
  auto session = winsim::GetSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  winsim::CostComponent* item = session->FindComponent(component);
  if (!item) return ERROR_UNKNOWN_COMPONENT;
  // Only the action changes; a disabled component ignores the call.
  if (item->enabled) item->action = state;
  return ERROR_SUCCESS;
}

INSTALLSTATE WINAPI MsiGetComponentPathA(LPCSTR product, LPCSTR component, LPSTR buffer,
                                         DWORD* count) {
  if (!product || !component || (buffer && !count)) return INSTALLSTATE_INVALIDARG;
  if (!winsim::IsGuid(product) || !winsim::IsGuid(component)) return INSTALLSTATE_INVALIDARG;
  const auto& components = winsim::Installed().components;
  auto it = components.find({winsim::UpperAscii(product), winsim::UpperAscii(component)});
  if (it == components.end()) return INSTALLSTATE_UNKNOWN;
  INSTALLSTATE state = it->second.state;
  const std::string& path = it->second.path;
  if (state == INSTALLSTATE_LOCAL) {
    // Installed locally: present only while its key path exists.
    if (path.empty())
      state = INSTALLSTATE_NOTUSED;
    else if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
      state = INSTALLSTATE_ABSENT;
  }
  if (winsim::CopyOut(path, buffer, count) == ERROR_MORE_DATA) return INSTALLSTATE_MOREDATA;
  return state;
}

BOOL WINAPI MsiGetMode(MSIHANDLE install, MSIRUNMODE mode) {
  auto session = winsim::GetSession(install);
  if (!session) return FALSE;
  int wordCount = 0;
  if (session->database) {
    auto it = session->database->summary.find(PID_WORDCOUNT);
    if (it != session->database->summary.end()) wordCount = it->second.integer;
  }
  switch (mode) {
    case MSIRUNMODE_MAINTENANCE:
      return session->PropertyInt("Installed", 0) != 0;
    case MSIRUNMODE_ROLLBACKENABLED:
      return session->PropertyInt("RollbackDisabled", 0) == 0;
    case MSIRUNMODE_CABINET:
      return (wordCount & winsim::kSourceCompressed) != 0;
    case MSIRUNMODE_SOURCESHORTNAMES:
      return (wordCount & winsim::kSourceShortNames) != 0;
    case MSIRUNMODE_TARGETSHORTNAMES:
      return !session->Property("SHORTFILENAMES").empty();
    case MSIRUNMODE_ZAWENABLED:
      return TRUE;
    default:
      // Administrative, advertising, logging, reboot, scheduled, rollback and
      // commit modes: none applies to a session that runs no install script.
      return FALSE;
  }
}

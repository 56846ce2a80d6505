// mapiadmin calendar add | contact add: calendar items and contacts.
#include <CLI/CLI.hpp>

#include "mapiadmin.h"
#include "times.h"

namespace mapiadmin {

namespace {

FILETIME TimeOption(const std::string& text, const char* what) {
  FILETIME ft = Now();
  if (!text.empty() && !ParseIsoTime(text, &ft)) throw Failure(std::string("unreadable ") + what + " time: " + text);
  return ft;
}

// Makes one item in the folder with the properties and saves it.
void CreateItem(const std::string& profile, const std::string& storeName, const std::string& folderPath,
                std::vector<SPropValue> props) {
  MapiSubsystem mapi;
  CInterfacePtr<IMAPISession> session = Logon(profile);
  CInterfacePtr<IMsgStore> store = OpenStoreByName(session.Get(), storeName);
  CInterfacePtr<IMAPIFolder> folder = OpenFolderPath(store.Get(), folderPath, false);
  WriteItem(folder.Get(), std::move(props));
}

}  // namespace

void WriteItem(IMAPIFolder* folder, std::vector<SPropValue> props) {
  CInterfacePtr<IMessage> item;
  Check(folder->CreateMessage(nullptr, 0, item.Put()), "making the item");
  SetProps(item.Get(), std::move(props), "setting the item's properties");
  Check(item->SaveChanges(0), "saving the item");
}

void AddItemCommands(CLI::App& app) {
  // Each subcommand has its own values: CLI11 fills defaults of every option.
  static std::string profile, store, eventFolder, subject, start, end, location, eventCreated;
  static std::string contactProfile, contactStore, contactFolder, given, surname, display, email, contactCreated;

  CLI::App* calendar = app.add_subcommand("calendar", "calendar items");
  calendar->require_subcommand(1);
  CLI::App* addEvent = calendar->add_subcommand("add", "add a calendar item");
  addEvent->add_option("profile", profile, "profile name")->required();
  addEvent->add_option("--store", store, "store display name")->required();
  addEvent->add_option("--folder", eventFolder, "folder path below the top of the store")->default_val("Calendar");
  addEvent->add_option("--subject", subject, "subject")->required();
  addEvent->add_option("--start", start, "start, ISO 8601 UTC")->required();
  addEvent->add_option("--end", end, "end, ISO 8601 UTC")->required();
  addEvent->add_option("--location", location, "location");
  addEvent->add_option("--created", eventCreated, "creation time, ISO 8601 UTC (default: now)");
  addEvent->callback([] {
    std::u16string cls = u"IPM.Appointment", subj = W(subject), where = W(location);
    FILETIME made = TimeOption(eventCreated, "creation");
    std::vector<SPropValue> props = {UnicodeValue(PR_MESSAGE_CLASS_W, cls), UnicodeValue(PR_SUBJECT_W, subj),
                                     TimeValue(PR_START_DATE, TimeOption(start, "start")),
                                     TimeValue(PR_END_DATE, TimeOption(end, "end")), TimeValue(PR_CREATION_TIME, made),
                                     TimeValue(PR_LAST_MODIFICATION_TIME, made)};
    if (!location.empty()) props.push_back(UnicodeValue(PR_LOCATION_W, where));
    CreateItem(profile, store, eventFolder, std::move(props));
  });

  CLI::App* contact = app.add_subcommand("contact", "contacts");
  contact->require_subcommand(1);
  CLI::App* addContact = contact->add_subcommand("add", "add a contact");
  addContact->add_option("profile", contactProfile, "profile name")->required();
  addContact->add_option("--store", contactStore, "store display name")->required();
  addContact->add_option("--folder", contactFolder, "folder path below the top of the store")->default_val("Contacts");
  addContact->add_option("--given", given, "given name");
  addContact->add_option("--surname", surname, "surname");
  addContact->add_option("--display", display, "display name (default: given and surname)");
  addContact->add_option("--email", email, "e-mail address");
  addContact->add_option("--created", contactCreated, "creation time, ISO 8601 UTC (default: now)");
  addContact->callback([] {
    if (given.empty() && surname.empty() && display.empty()) throw Failure("a contact needs a name");
    std::string shown = display.empty() ? given + (given.empty() || surname.empty() ? "" : " ") + surname : display;
    std::u16string cls = u"IPM.Contact", g = W(given), s = W(surname), d = W(shown), e = W(email);
    FILETIME made = TimeOption(contactCreated, "creation");
    std::vector<SPropValue> props = {UnicodeValue(PR_MESSAGE_CLASS_W, cls), UnicodeValue(PR_DISPLAY_NAME_W, d),
                                     UnicodeValue(PR_SUBJECT_W, d), TimeValue(PR_CREATION_TIME, made),
                                     TimeValue(PR_LAST_MODIFICATION_TIME, made)};
    if (!given.empty()) props.push_back(UnicodeValue(PR_GIVEN_NAME_W, g));
    if (!surname.empty()) props.push_back(UnicodeValue(PR_SURNAME_W, s));
    if (!email.empty()) props.push_back(UnicodeValue(PR_EMAIL_ADDRESS_W, e));
    CreateItem(contactProfile, contactStore, contactFolder, std::move(props));
  });
}

}  // namespace mapiadmin

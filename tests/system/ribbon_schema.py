#!/usr/bin/env python3
"""The ribbon XML the add-in gave the Outlook simulator is valid against Office's customUI schema
and carries the controls users are told about.

Usage: ribbon_schema.py <ribbon-xml folder> <folder of customUI14.xsd and customUI.xsd>

The folder holds what the ribbon tests received: Microsoft.Outlook.Appointment.xml and
Microsoft.Outlook.Explorer.xml from Outlook 2010 and later (customUI14.xsd), and in 2007/ the
appointment window's XML from Outlook 2007 (customUI.xsd, the 2006 namespace).
"""
import os
import sys

import xmlschema

NS_2010 = "http://schemas.microsoft.com/office/2009/07/customui"
NS_2007 = "http://schemas.microsoft.com/office/2006/01/customui"

# (file, schema, namespace, [(element, id, label, tab)])
APPOINTMENT = [
    ("group", "BrisomelReminderCallGroup", "Reminder call", "TabAppointment"),
    ("toggleButton", "BrisomelReminderCall", "Call me at the reminder", "TabAppointment"),
    ("editBox", "BrisomelNumber", "Number to call", "TabAppointment"),
]
EXPLORER = [
    ("group", "BrisomelNewReminderCallGroup", "Reminder call", "TabCalendar"),
    ("button", "BrisomelNewReminderCall", "New Reminder Call", "TabCalendar"),
]
CASES = [
    ("Microsoft.Outlook.Appointment.xml", "customUI14.xsd", NS_2010, APPOINTMENT),
    ("Microsoft.Outlook.Explorer.xml", "customUI14.xsd", NS_2010, EXPLORER),
    (os.path.join("2007", "Microsoft.Outlook.Appointment.xml"), "customUI.xsd", NS_2007, APPOINTMENT),
]


def check(path, schema, ns, controls):
    problems = []
    if not os.path.isfile(path):
        return ["%s: missing (the ribbon tests write it)" % path]
    errors = list(schema.iter_errors(path))
    problems += ["%s: %s" % (path, e.reason or e) for e in errors]
    if errors:
        return problems
    import xml.etree.ElementTree as ET

    root = ET.parse(path).getroot()
    if root.tag != "{%s}customUI" % ns:
        problems.append("%s: root %s, want customUI in %s" % (path, root.tag, ns))
    tabs = {}
    for tab in root.iter("{%s}tab" % ns):
        for child in tab.iter():
            if child.get("id"):
                tabs[child.get("id")] = (child, tab.get("idMso"))
    for element, control_id, label, tab in controls:
        found = tabs.get(control_id)
        if found is None:
            problems.append("%s: no %s %s" % (path, element, control_id))
            continue
        node, in_tab = found
        if node.tag != "{%s}%s" % (ns, element) or node.get("label") != label or in_tab != tab:
            problems.append("%s: %s is <%s label=%r> on %s, want <%s label=%r> on %s" % (
                path, control_id, node.tag.split("}")[1], node.get("label"), in_tab, element, label, tab))
    return problems


def main():
    xml_dir, schema_dir = sys.argv[1], sys.argv[2]
    missing = [x for x in ("customUI14.xsd", "customUI.xsd") if not os.path.isfile(os.path.join(schema_dir, x))]
    if missing:
        print("%s: no %s (Office's schemas are expected in shared/reference beside the checkout)"
              % (schema_dir, " and no ".join(missing)))
        return 1
    schemas = {}
    problems = []
    for name, xsd, ns, controls in CASES:
        if xsd not in schemas:
            schemas[xsd] = xmlschema.XMLSchema(os.path.join(schema_dir, xsd))
        found = check(os.path.join(xml_dir, name), schemas[xsd], ns, controls)
        problems += found
        if not found:
            print("valid against %s: %s" % (xsd, name))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

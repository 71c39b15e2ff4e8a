#!/usr/bin/env python3
"""Checks the group policy template against the format of administrative templates and against
the agent: both files well-formed in the PolicyDefinitions namespace; every string and
presentation the ADMX names is in the ADML, and no entry of the ADML is left unused; each
presentation shows exactly the elements of its policy; every policy writes under
Software\\Policies; the key and value names are the ones the agent reads (common/settings_key.h).

    check_policy_template.py <brisomel.admx> <brisomel.adml> <settings_key.h>

Prints each fault and exits 1 when there is one."""
import re
import sys
import xml.etree.ElementTree as ET

NS = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"
Q = "{%s}" % NS
ELEMENT_KINDS = ("text", "decimal", "longDecimal", "boolean", "enum", "list", "multiText")


def main(admx_path, adml_path, header_path):
    faults = []
    try:
        admx = ET.parse(admx_path).getroot()
        adml = ET.parse(adml_path).getroot()
    except ET.ParseError as error:
        print("not well-formed: %s" % error)
        return 1
    if admx.tag != Q + "policyDefinitions":
        faults.append("the ADMX root is %s, not policyDefinitions" % admx.tag)
    if adml.tag != Q + "policyDefinitionResources":
        faults.append("the ADML root is %s, not policyDefinitionResources" % adml.tag)
    for root, name in ((admx, "ADMX"), (adml, "ADML")):
        for attribute in ("revision", "schemaVersion"):
            if not root.get(attribute):
                faults.append("the %s has no %s" % (name, attribute))

    strings = {s.get("id") for s in adml.iter(Q + "string")}
    presentations = {p.get("id"): p for p in adml.iter(Q + "presentation")}
    used_strings, used_presentations = set(), set()
    for element in admx.iter():
        for attribute, value in element.attrib.items():
            for kind, ref in re.findall(r"\$\((string|presentation)\.([^)]*)\)", value):
                if kind == "string":
                    used_strings.add(ref)
                    if ref not in strings:
                        faults.append("string %s (%s of %s) is not in the ADML" % (ref, attribute, element.get("name")))
                else:
                    used_presentations.add(ref)
                    if ref not in presentations:
                        faults.append("presentation %s is not in the ADML" % ref)
    for unused in sorted(strings - used_strings):
        faults.append("the ADML's string %s is named by no ADMX entry" % unused)
    for unused in sorted(set(presentations) - used_presentations):
        faults.append("the ADML's presentation %s is named by no policy" % unused)

    categories = {c.get("name") for c in admx.iter(Q + "category")}
    header = open(header_path, encoding="utf-8").read()
    policy_path = re.search(r'kPolicyPath\[\] = "([^"]*)"', header).group(1).replace("\\\\", "\\")
    agent_values = {"host", "port"} | {re.search(r'%s\[\] = "([^"]*)"' % name, header).group(1)
                                       for name in ("kLockGateway", "kVoicemailNotice")}
    written_values = set()
    for policy in admx.iter(Q + "policy"):
        name = policy.get("name")
        key = policy.get("key", "")
        if not key.startswith("Software\\Policies\\"):
            faults.append("policy %s writes %s, outside Software\\Policies" % (name, key))
        if key != policy_path:
            faults.append("policy %s writes %s, the agent reads %s" % (name, key, policy_path))
        if policy.get("class") not in ("User", "Machine", "Both"):
            faults.append("policy %s has no class User, Machine or Both" % name)
        parent = policy.find(Q + "parentCategory")
        if parent is None or parent.get("ref") not in categories:
            faults.append("policy %s is in no category of the ADMX" % name)
        if policy.get("valueName"):
            written_values.add(policy.get("valueName"))
        elements = policy.find(Q + "elements")
        ids = []
        for element in list(elements) if elements is not None else []:
            kind = element.tag[len(Q):]
            if kind not in ELEMENT_KINDS:
                faults.append("policy %s has an element %s of no known kind" % (name, kind))
            if element.get("key") and not element.get("key").startswith("Software\\Policies\\"):
                faults.append("element %s writes %s, outside Software\\Policies" % (element.get("id"), element.get("key")))
            ids.append(element.get("id"))
            written_values.add(element.get("valueName"))
        reference = re.fullmatch(r"\$\(presentation\.([^)]*)\)", policy.get("presentation", ""))
        shown = []
        if reference and reference.group(1) in presentations:
            shown = [control.get("refId") for control in presentations[reference.group(1)] if control.get("refId")]
        if sorted(shown) != sorted(ids):
            faults.append("policy %s has elements %s, its presentation shows %s" % (name, ids, shown))
    if written_values != agent_values:
        faults.append("the policies write %s, the agent reads %s" % (sorted(written_values), sorted(agent_values)))

    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))

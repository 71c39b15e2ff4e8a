#pragma once
// One hidden agent per logon session serves Outlook: two would each place a call for the same
// reminder.

// Takes the session's hidden-agent mutex for the rest of the process; the system lets go of it
// when the process ends, however it ends. An agent that is itself ending (ended with its Outlook
// a moment ago) is waited for briefly. False when another hidden agent serves Outlook: this one
// then ends quietly.
bool ClaimHiddenAgentRole();

"""Filters that read firmstep reports for the roll-out: what changed on a
host, why a host fails, and a summary across hosts."""


def _drive_name(drive):
    return "drive %d %s %s" % (drive.get("number", -1), drive.get("model", "?"), drive.get("serialNumber", "?"))


def _reason(update):
    return "%s (error code %s)" % (update.get("message") or "no reason given", update.get("errorCode"))


def firmstep_changes(report):
    """Lines for the drives whose firmware revision changed."""
    lines = []
    for drive in (report or {}).get("drives", []):
        update = drive.get("update") or {}
        before, after = update.get("revisionBefore"), update.get("revisionAfter")
        if update.get("result") == "succeeded" and after is not None and after != before:
            lines.append("%s: %s -> %s" % (_drive_name(drive), before, after))
    return lines


def firmstep_problems(report, exit_status, output_tail=None):
    """Why the host fails, one line each; empty when it does not."""
    if not report:
        lines = ["firmstep left no report (exit status %s)" % exit_status]
        return lines + ["  " + line for line in (output_tail or [])]
    lines = []
    if report.get("outcome") not in ("completed", "listed", "noDrives", "nothingSelected"):
        lines.append("firmstep ended early (%s): %s" % (report.get("outcome"), report.get("message")))
    for drive in report.get("drives", []):
        update = drive.get("update") or {}
        if update.get("result") == "failed":
            lines.append("%s: FAILED: %s" % (_drive_name(drive), _reason(update)))
    if not lines and int(report.get("exitStatus", -1)) != 0:
        lines.append("firmstep exit status %s" % report.get("exitStatus"))
    return lines


def _host_lines(host, report, exit_status):
    if not report:
        return ["%s: no report (firmstep exit status %s)" % (host, exit_status)]
    lines = []
    outcome = report.get("outcome")
    if outcome == "listed":
        for drive in report.get("drives", []):
            state = "selected" if drive.get("selected") else "not selected"
            lines.append("%s: %s: %s, %s" % (host, _drive_name(drive), drive.get("firmwareRevision"), state))
    elif outcome != "completed":
        lines.append("%s: %s: %s" % (host, outcome, report.get("message")))
    for drive in report.get("drives", []):
        update = drive.get("update")
        if not update:
            continue
        name = "%s: %s" % (host, _drive_name(drive))
        before, after = update.get("revisionBefore"), update.get("revisionAfter")
        if update.get("result") == "failed":
            lines.append("%s: FAILED on %s: %s" % (name, after or before, _reason(update)))
        elif update.get("result") == "skipped":
            lines.append("%s: skipped: %s" % (name, update.get("message")))
        elif after is not None and after != before:
            lines.append("%s: %s -> %s" % (name, before, after))
        else:
            lines.append("%s: still %s" % (name, after or before))
        if update.get("resetNeeded"):
            lines.append("%s: needs %s" % (name, update["resetNeeded"]))
    if not report.get("drives"):
        lines.append("%s: no VT drives" % host)
    return lines


def firmstep_summary(hosts, hostvars):
    """Across the hosts of the play: revision changes, failures with their
    reasons and pending resets, then the hosts not reached yet."""
    lines, waiting = [], []
    for host in hosts:
        variables = hostvars.get(host, {})
        if "firmstep_report" not in variables:
            waiting.append(host)
            continue
        lines += _host_lines(host, variables["firmstep_report"], variables.get("firmstep_exit_status"))
    if waiting:
        lines.append("not reached: " + ", ".join(waiting))
    return lines


class FilterModule(object):
    def filters(self):
        return {
            "firmstep_changes": firmstep_changes,
            "firmstep_problems": firmstep_problems,
            "firmstep_summary": firmstep_summary,
        }

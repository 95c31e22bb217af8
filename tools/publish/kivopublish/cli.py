"""The command line of kivo-publish."""

import argparse
import datetime
import os
import sys

from .errors import PublishError

from .signed_page import DEFAULT_EXPIRES_DAYS, LONGEST_EXPIRES_DAYS


EXIT_CODES = """exit codes:
  0  done
  1  refused or failed, with the reason on standard error; the tree is as it was
  2  wrong command line (usage on standard error)
  3  another kivo-publish command holds the tree; nothing was done: run it again later"""


def _parser():
    parser = argparse.ArgumentParser(
        prog="kivo-publish", formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Makes, checks, promotes and re-signs releases in a server tree.",
        epilog=EXIT_CODES)
    sub = parser.add_subparsers(dest="command", required=True)

    def command(name, help_text):
        return sub.add_parser(name, help=help_text, description=help_text, epilog=EXIT_CODES,
                              formatter_class=argparse.RawDescriptionHelpFormatter)

    def tree(parser_, made=False):
        parser_.add_argument("--out", required=True, metavar="SERVERDIR",
                             help="the server tree" + (" (made when missing)" if made else ""))

    keygen = command("keygen", "a new P-256 key pair")
    keygen.add_argument("--out", required=True, metavar="DIR",
                        help="where release-key.pem (mode 0600) and release-key.pub.pem go; "
                        "existing keys are never overwritten")

    def signing(name, help_text, expires=True, made=False):
        parser_ = command(name, help_text)
        tree(parser_, made)
        parser_.add_argument("--key", required=True, metavar="PEM",
                             help="the private release key (mode 0600, the recorded key of "
                             "its slot)")
        parser_.add_argument("--key-slot", type=int, choices=(1, 2), default=1,
                             help="the slot the key signs as (default 1; 2 is the next key)")
        if expires:
            parser_.add_argument("--expires-days", type=int, default=DEFAULT_EXPIRES_DAYS,
                                 metavar="D",
                                 help="days the pages' signatures hold (default %d, at most %d; "
                                 "re-sign daily)" % (DEFAULT_EXPIRES_DAYS, LONGEST_EXPIRES_DAYS))
        return parser_

    release = signing("release", "publish trees as the test release", made=True)
    release.add_argument("--version", required=True, metavar="N",
                         help="the build's number, 1 to 2147483647, above every published one")
    release.add_argument("--tree", action="append", default=[], required=True,
                         metavar="NAME=DIR",
                         help="a package name (lower-case letters and digits, or - for the "
                         "generic package) and its build tree, Kivo9.exe at its top; repeat")
    release.add_argument("--combine-filter", action="store_true",
                         help="ask the agent to merge the user's filter lists (default: not)")
    release.add_argument("--no-solid", action="store_true",
                         help="write the zip packages only (default: a solid package of each "
                         "tree too, d/N/u<name>.tzst, which signed agents take first)")
    release.add_argument("--deltas", type=int, default=3, metavar="N",
                         help="make delta packages from the N releases before this one, "
                         "d/<version>/u<name>.<from>.delta, which signed agents at those "
                         "releases take first; 0 for none; a delta over half the full "
                         "package is left out (default: 3)")
    release.add_argument("--new-tree", action="store_true",
                         help="start a server tree in --out, which need not exist (default: "
                         "--out must be a server tree already, so a mistyped path is refused)")
    promote = signing("promote", "make the test release the release (the normal channel)")
    promote.add_argument("--share", metavar="PERCENT",
                         help="stage it: only this share of the installations with signed agents "
                         "takes it, the others keep the release before; agents without keys "
                         "take it whatever the share (default: 100%%, every one)")
    rollout = signing("rollout", "widen the normal release's stage (a share only grows)")
    rollout.add_argument("--share", required=True, metavar="PERCENT",
                         help="the share of the installations with signed agents that take "
                         "it, such as 5%% or 0.5%%, at least the share it has; after a halt, any "
                         "share resumes it (agents without keys take it whatever the share)")
    signing("halt", "stop the normal release: no signed agent hands it over any more; "
            "installations with an older build take the release before it (agents without "
            "keys know no halt and take it all the same)")
    signing("resign", "new seq and exp on every page; run daily (deploy/resign)")
    pruning = command("prune", "remove old releases that no page serves or names as the "
                      "release before")
    tree(pruning)
    pruning.add_argument("--keep", type=int, default=3, metavar="N",
                         help="the newest releases to keep whatever serves them (default 3)")
    listing = command("list", "every release in the tree: version, day published, the pages "
                      "that serve it or name it as the release before, packages and sizes")
    tree(listing)
    listing.add_argument("--json", action="store_true", help="one JSON object, for scripts")
    status = command("status", "each channel's release, share, release before, seq, expiry "
                     "and key slot, as nginx serves the page; exit code 1 when a page it serves "
                     "is broken")
    tree(status)
    status.add_argument("--json", action="store_true", help="one JSON object, for scripts")
    verify = command("verify", "check pages and packages as the agents would")
    tree(verify)
    verify.add_argument("--pubkey", metavar="PEM", action="append", default=[],
                        help="a key the agents are built with, slot 1 first (give it twice for "
                        "slot 2): every page must verify with it, whatever the tree records; "
                        "default: the recorded keys")
    rotate = command("rotate", "record the public key of a slot (a new key)")
    tree(rotate)
    rotate.add_argument("--key-slot", type=int, choices=(1, 2), required=True,
                        help="the slot the key is for")
    rotate.add_argument("--pubkey", required=True, metavar="PEM",
                        help="the public key the agents are built with for that slot")
    stats = command("stats", "per day: package requests, machines on each build and updates "
                    "from each build to each, from the server's log")
    stats.add_argument("log", metavar="LOG", help="the JSON statistics log (serve: LOGDIR/stats.log)")
    stats.add_argument("--since", type=datetime.date.fromisoformat, metavar="YYYY-MM-DD",
                       help="leave out earlier days (default: every day in the log)")
    stats.add_argument("--json", action="store_true", help="one JSON object, for scripts")
    stats.add_argument("--tree", metavar="SERVERDIR",
                       help="the server tree: each delta download is priced at what its "
                       "release's full package (solid, else zip) would have sent (default: "
                       "not priced)")
    report = command("report", "one self-contained HTML page of the log for a person: the "
                     "fleet by build over time, downloads, requests without a package")
    report.add_argument("log", metavar="LOG", help="the JSON statistics log")
    report.add_argument("--out", required=True, metavar="HTML", help="the page to write")
    report.add_argument("--since", type=datetime.date.fromisoformat, metavar="YYYY-MM-DD",
                        help="leave out earlier days (default: every day in the log)")
    report.add_argument("--tree", metavar="SERVERDIR",
                        help="the server tree, whose promotes, rollouts and halts are marked "
                        "on the timeline and whose full packages price the delta downloads "
                        "(default: none marked, none priced)")
    return parser


def _run(args):
    if args.command == "stats":
        from .fleet import stats
        full_size = stats.full_sizes(args.tree) if args.tree else None
        counts = stats.read_log(args.log, args.since, full_size)
        sys.stdout.write(stats.as_json(counts) if args.json else stats.report(counts))
        return 0
    if args.command == "report":
        from . import release_events
        from .fleet import report, stats
        full_size = stats.full_sizes(args.tree) if args.tree else None
        page = report.render(stats.read_log(args.log, args.since, full_size),
                             events=release_events.read(args.tree))
        with open(args.out, "w", encoding="utf-8") as f:
            f.write(page)
        print("report written to %s" % os.path.abspath(args.out))
        return 0
    if args.command == "keygen":
        from . import keys
        for path in keys.keygen(args.out):
            print(path)
        return 0
    from . import tree_lock
    if args.command == "release":
        from . import server_tree
        if not args.new_tree and not server_tree.is_server_tree(args.out):
            raise PublishError("%s is no server tree (no meta/, d/ or kivover/ in it): check "
                               "--out, or give --new-tree to start one there" % args.out)
        os.makedirs(args.out, exist_ok=True)  # the first release makes the tree
    with tree_lock.held(args.out, exclusive=args.command not in ("verify", "status", "list")):
        return _run_on_tree(args)


def _run_on_tree(args):
    if args.command == "rotate":
        from . import key_record
        print("recorded " + key_record.rotate(args.out, args.key_slot, args.pubkey))
        return 0
    if args.command == "verify":
        from . import verifying
        report = verifying.verify(args.out, args.pubkey)
        for note in report.notes:
            print("note: " + note)
        for fault in report.faults:
            print("FAULT " + fault)
        print("%d fault(s)" % len(report.faults) if report.faults
              else "all pages and packages hold")
        return 1 if report.faults else 0
    from . import publishing
    if args.command == "prune":
        pruned = publishing.prune(args.out, args.keep)
        print("pruned " + ", ".join(pruned) if pruned else "nothing to prune")
        return 0
    if args.command == "list":
        _print_releases(publishing.list_releases(args.out), args.json)
        return 0
    if args.command == "status":
        channels = publishing.status(args.out)
        _print_status(channels, args.json)
        return 1 if any(page["broken"] for page in channels.values()) else 0
    if args.command == "release":
        if args.deltas < 0:
            raise PublishError("--deltas %d: give a count of releases, 0 for no deltas"
                               % args.deltas)
        lines, solid, deltas = publishing.release(args.out, args.version, args.key,
                                                  args.key_slot, args.tree, args.combine_filter,
                                                  args.expires_days, not args.no_solid,
                                                  args.deltas)
        for name, size, digest in lines:
            print("pkg=%s %d %s" % (name, size, digest))
        for name, size, digest in solid:
            print("solid=%s %d %s" % (name, size, digest))
        for name, start, size, digest, _ in deltas:
            print("delta=%s from %s %d %s" % (name, start, size, digest))
        print("test release %s published" % args.version)
        if "-" not in [name for name, _, _ in lines]:
            sys.stderr.write("kivo-publish release: warning: no generic package (--tree -=DIR): "
                             "installations whose language has no package of its own get none "
                             "(packages: %s)\n" % ", ".join(name for name, _, _ in lines))
    elif args.command == "promote":
        share = publishing.parse_share(args.share) if args.share else None
        version = publishing.promote(args.out, args.key, args.key_slot, args.expires_days, share)
        _say_event(args.out, "promote", version, publishing.percent(share), "promoted to ")
    elif args.command == "rollout":
        share = publishing.parse_share(args.share)
        version = publishing.rollout(args.out, args.key, args.key_slot, args.expires_days, share)
        _say_event(args.out, "rollout", version, publishing.percent(share), "rolled out to ")
    elif args.command == "halt":
        version = publishing.halt(args.out, args.key, args.key_slot, args.expires_days)
        _say_event(args.out, "halt", version, "halted", "")
    else:
        print("re-signed: " + ", ".join(
            publishing.resign(args.out, args.key, args.key_slot, args.expires_days)))
    if args.command in ("promote", "rollout", "halt"):
        _print_who_takes_what(args.out)
    return 0


def _say_event(root, command, version, share, verb):
    """Prints what a promote, rollout or halt did and keeps it for the report's timeline."""
    from . import release_events
    print("release %s %s%s" % (version, verb, share))
    release_events.record(root, command, version, share)


def _printed_as_json(value, as_json, empty):
    """Prints value as one JSON object when asked (True then), else the line for nothing."""
    if as_json:
        import json
        print(json.dumps(value, indent=2, sort_keys=True))
    elif not value:
        print(empty)
    return as_json


def _print_status(channels, as_json):
    if _printed_as_json(channels, as_json, "no pages"):
        return
    from .publishing import percent
    for chan, page in channels.items():
        if page["release"] is not None:
            share = "halted" if page["halted"] else percent(page["share_basis_points"])
            print("%-8s release %s  share %s  release before %s  seq %d  expires %s  key slot %d"
                  % (chan, page["release"], share, page["release_before"] or "none",
                     page["seq"], page["expires"], page["key_slot"]))
        for fault in page["broken"]:
            print("%-8s BROKEN as served: %s (run verify, then resign or promote)" % (chan, fault))


def _print_who_takes_what(root):
    """What the normal page now gives the machines a share or a halt leaves out, and the
    agents without keys, which know neither."""
    from . import server_tree, signed_page
    page = server_tree.current_pages(root)["ver"]
    share = page.rollout.share
    before = page.rollout.before[0] if page.rollout.before else None
    if share is not None and share < signed_page.WHOLE_FLEET:
        who = "signed agents with an older build" if share == 0 else "outside the stage, signed agents"
        print("%s %s" % (who, "take release %s, the release before" % before if before
                         else "keep the build they have (no release before)"))
    print("agents without keys take release %s now, whatever the share or a halt (they know "
          "neither)" % page.version)


def _print_releases(releases, as_json):
    if _printed_as_json(releases, as_json, "no releases"):
        return
    from .publishing import percent
    for release in releases:
        served = []
        for chan in release["pages"]:
            served.append(chan + (" " + percent(release["share_basis_points"])
                                  if chan == "ver" else ""))
        served += ["release before on " + chan for chan in release["release_before_of"]]
        sizes = ", ".join("%s %s" % (name, "missing" if size is None else "%d bytes" % size)
                          for name, size in sorted(release["packages"].items()))
        print("%-10s published %s  %s  packages: %s" % (
            release["version"], release["published"], "; ".join(served) or "no page", sizes))


def _join_tree_values(argv):
    # "--tree -=DIR" (the generic package) would read as an option: join it to its value.
    joined, i = [], 0
    while i < len(argv):
        if argv[i] == "--tree" and i + 1 < len(argv):
            joined.append("--tree=" + argv[i + 1])
            i += 2
        else:
            joined.append(argv[i])
            i += 1
    return joined


def main(argv=None):
    args = _parser().parse_args(_join_tree_values(sys.argv[1:] if argv is None else argv))
    try:
        return _run(args)
    except PublishError as e:
        print("kivo-publish %s: %s" % (args.command, e), file=sys.stderr)
        return e.exit_code
    except OSError as e:
        print("kivo-publish %s: %s" % (args.command, e), file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("kivo-publish %s: interrupted" % args.command, file=sys.stderr)
        return 1

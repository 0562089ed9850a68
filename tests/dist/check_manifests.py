#!/usr/bin/env python3
"""The fleet against Agones' Fleet schema in ../shared; the fleet and compose
files against the image's name (image.env), port and command (Containerfile),
and the fleet's metrics port against its scrape annotations."""
import json
import os
import re
import sys


def faults(read, schema, fleet, compose):
    import jsonschema
    found = [f"schema: {'/'.join(map(str, e.path))}: {e.message}"
             for e in jsonschema.Draft7Validator(schema).iter_errors(fleet)]
    image = re.search(r"^TARN_IMAGE=(\S+)$", read("dist/container/image.env"), re.M)[1] + ":i386"
    ports = re.findall(r'^EXPOSE (\d+)/udp$|"-port", "(\d+)"|"127\.0\.0\.1:(\d+)"',
                       read("dist/container/Containerfile"), re.M)
    ports = {int(p) for found_port in ports for p in found_port if p}
    if len(ports) != 1:
        return found + [f"the Containerfile's EXPOSE, -port and health check name {ports}"]
    port = ports.pop()
    game_server = fleet["spec"]["template"]["spec"]
    health = game_server.get("health", {})
    # Its periods against the launcher's /health interval: shipped_numbers_test.
    if health.get("disabled") or health.get("failureThreshold", 0) < 2:
        found.append(f"health {health} is off, or gives up after one empty period")
    expected = [(fleet.get("apiVersion"), "agones.dev/v1"), (fleet.get("kind"), "Fleet"),
                ([c.get("image") for c in game_server["template"]["spec"]["containers"]], [image]),
                ([(p.get("containerPort"), p.get("protocol")) for p in game_server.get("ports", [])], [(port, "UDP")])]
    # The fleet's container runs the image's command with -metrics, on the
    # port that its annotations give Prometheus and that it declares.
    container = game_server["template"]["spec"]["containers"][0]
    command = json.loads(re.search(r"^CMD (\[.*\])$", read("dist/container/Containerfile"), re.M)[1])
    args, pod = container.get("args", []), game_server["template"].get("metadata", {}).get("annotations", {})
    metrics = args[args.index("-metrics") + 1].split(":")[-1] if "-metrics" in args[:-1] else None
    expected += [(args[:len(command)], command),
                 ([pod.get("prometheus.io/scrape"), pod.get("prometheus.io/port")], ["true", metrics]),
                 ([(p.get("containerPort"), p.get("protocol")) for p in container.get("ports", [])],
                  [(int(metrics or 0), "TCP")])]
    for service in compose["services"].values():
        expected += [(service.get("image"), image),
                     ([p.split(":")[-1] for p in service.get("ports", [])], [f"{port}/udp"])]
    return found + [f"{actual!r} where {wanted!r} was expected" for actual, wanted in expected if actual != wanted]


def main(root):
    read = lambda path: open(os.path.join(root, path)).read()  # noqa: E731
    # The operators' guide quotes the fleet whole, from its apiVersion line on.
    fleet = read("dist/agones/fleet.yaml")
    if fleet[fleet.index("apiVersion:"):] not in read("docs/operators.md"):
        print("docs/operators.md does not quote dist/agones/fleet.yaml as it is")
        return 1
    schema = os.path.join(root, "..", "shared", "agones", "fleets.schema.json")
    try:
        import jsonschema  # noqa: F401
        import yaml
    except ImportError as error:
        return f"no python3 {error.name}: scripts/deps tests installs it"
    if not os.path.isfile(schema):
        return f"no Fleet schema at {schema}"
    found = faults(read, json.loads(read(schema)), yaml.safe_load(fleet),
                   yaml.safe_load(read("dist/compose.yaml")))
    print("\n".join(found + [f"fleet.yaml and compose.yaml: {len(found)} faults"]))
    return 1 if found else 0


if __name__ == "__main__":
    result = main(sys.argv[1])
    print(f"Skipped: the fleet manifest's check ({result})." if isinstance(result, str) else "", end="")
    sys.exit(77 if isinstance(result, str) else result)

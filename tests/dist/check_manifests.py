#!/usr/bin/env python3
"""dist/agones/fleet.yaml against Agones' Fleet schema in ../shared, and the
fleet and compose files against the image that `make image` builds: its name
(dist/container/image.env) and the port its Containerfile exposes."""
import os
import re
import sys

SKIP = 77
LAUNCHER_HEALTH_SECONDS = 2  # between the launcher's /health calls


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(SKIP)


def image_and_port(root):
    with open(os.path.join(root, "dist/container/image.env")) as env:
        name = re.search(r"^TARN_IMAGE=(\S+)$", env.read(), re.M).group(1)
    with open(os.path.join(root, "dist/container/Containerfile")) as containerfile:
        text = containerfile.read()
    ports = {int(p) for p in re.findall(r"^EXPOSE (\d+)/udp$", text, re.M)}
    ports |= {int(p) for p in re.findall(r'"-port", "(\d+)"', text)}
    ports |= {int(p) for p in re.findall(r'"127\.0\.0\.1:(\d+)"', text)}
    assert len(ports) == 1, f"the Containerfile names more than one port: {ports}"
    return name + ":i386", ports.pop()


def fleet_faults(fleet, schema, image, port):
    import jsonschema
    faults = [f"schema: {'/'.join(map(str, e.path))}: {e.message}"
              for e in jsonschema.Draft7Validator(schema).iter_errors(fleet)]
    if (fleet.get("apiVersion"), fleet.get("kind")) != ("agones.dev/v1", "Fleet"):
        faults.append("not an agones.dev/v1 Fleet")
    spec = fleet["spec"]["template"]["spec"]
    images = [c.get("image") for c in spec["template"]["spec"]["containers"]]
    if images != [image]:
        faults.append(f"containers run {images}, not [{image!r}]")
    ports = [(p.get("containerPort"), p.get("protocol")) for p in spec.get("ports", [])]
    if ports != [(port, "UDP")]:
        faults.append(f"ports are {ports}, not [({port}, 'UDP')]")
    health = spec.get("health", {})
    if health.get("disabled") or health.get("periodSeconds", 0) < 2 * LAUNCHER_HEALTH_SECONDS or \
            health.get("failureThreshold", 0) < 2 or \
            health.get("initialDelaySeconds", 0) < LAUNCHER_HEALTH_SECONDS:
        faults.append(f"health {health} does not fit a /health call every {LAUNCHER_HEALTH_SECONDS} s")
    return faults


def compose_faults(compose, image, port):
    faults = []
    for name, service in compose["services"].items():
        if service.get("image") != image:
            faults.append(f"compose service {name} runs {service.get('image')}, not {image}")
        if [p.split(":")[-1] for p in service.get("ports", [])] != [f"{port}/udp"]:
            faults.append(f"compose service {name} maps {service.get('ports')}, not {port}/udp")
    return faults


def main(root):
    schema_path = os.path.join(root, "..", "shared", "agones", "fleets.schema.json")
    if not os.path.isfile(schema_path):
        skip(f"{schema_path} is missing: no Fleet schema to check against")
    try:
        import jsonschema  # noqa: F401
        import yaml
    except ImportError as error:
        skip(f"python3 module {error.name} is missing: scripts/ensure-manifest-tools installs it")
    import json
    image, port = image_and_port(root)
    with open(schema_path) as schema, open(os.path.join(root, "dist/agones/fleet.yaml")) as fleet, \
            open(os.path.join(root, "dist/compose.yaml")) as compose:
        faults = fleet_faults(yaml.safe_load(fleet), json.load(schema), image, port) + \
            compose_faults(yaml.safe_load(compose), image, port)
    for fault in faults:
        print(fault)
    print(f"fleet.yaml and compose.yaml against {image} on UDP {port}: {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))

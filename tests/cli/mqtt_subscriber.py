#!/usr/bin/python3
"""An independent reader of a lab's broker for the CLI tests: python3-paho-mqtt with a
persistent session (clean_session False, a fixed client id, QoS 1), as a dashboard or
Telegraf would read. It reconnects by itself across a broker restart; the broker keeps
what arrives for it meanwhile.

usage: mqtt_subscriber.py HOST PORT CLIENT_ID FILTER OUT_FILE SECONDS

Appends one JSON line per message to OUT_FILE ({"topic", "payload", "retain"}), flushed
at once, and writes "subscribed" to standard output once the broker took the
subscription. Ends after SECONDS, or at SIGTERM.
"""
import json
import signal
import sys
import time

import paho.mqtt.client as mqtt


def main():
    host, port, client_id, topic_filter, out_path, seconds = sys.argv[1:7]
    deadline = time.monotonic() + float(seconds)
    out = open(out_path, 'a')
    stop = [False]
    signal.signal(signal.SIGTERM, lambda *_: stop.__setitem__(0, True))

    def on_connect(client, userdata, flags, rc):
        if rc == 0:
            client.subscribe(topic_filter, qos=1)

    def on_subscribe(client, userdata, mid, granted):
        print('subscribed', flush=True)

    def on_message(client, userdata, m):
        out.write(json.dumps({'topic': m.topic, 'payload': m.payload.decode('utf-8', 'replace'),
                              'retain': bool(m.retain)}) + '\n')
        out.flush()

    client = mqtt.Client(client_id=client_id, clean_session=False, protocol=mqtt.MQTTv311)
    client.on_connect = on_connect
    client.on_subscribe = on_subscribe
    client.on_message = on_message
    client.reconnect_delay_set(min_delay=1, max_delay=2)
    client.connect_async(host, int(port), keepalive=30)
    client.loop_start()
    while not stop[0] and time.monotonic() < deadline:
        time.sleep(0.05)
    client.loop_stop()
    client.disconnect()
    out.close()


if __name__ == '__main__':
    main()
